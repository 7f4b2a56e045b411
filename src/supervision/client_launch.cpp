// Placeholder bodies until the client launch lands.
#include "app/service_module.h"

namespace keldran {

void CServiceModule::LaunchClient(bool) { ClientRunning = false; }
bool CServiceModule::ApplyCtrlDocAttribute() { return true; }

}  // namespace keldran
