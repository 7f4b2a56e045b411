// Placeholder body until the control interface lands.
#include "app/service_module.h"

namespace keldran {

void CServiceModule::SetRunningTS(bool, const WideString*, std::uint32_t) {}

}  // namespace keldran
