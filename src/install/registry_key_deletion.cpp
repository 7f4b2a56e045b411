// Placeholder bodies until the registry key deletion lands.
#include "app/service_module.h"

namespace keldran {

void CServiceModule::DeleteRegistryKeys() {}
std::string CServiceModule::DeleteRegistryKeyTree(RegKey, const std::string&) { return {}; }

}  // namespace keldran
