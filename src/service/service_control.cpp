// Placeholder bodies until the service runtime lands.
#include "app/service_module.h"

namespace keldran {

void CServiceModule::StartRun() {
  logError(category::kStartup, 116, "The service and application run is not available yet");
  Status.win32ExitCode = static_cast<std::uint32_t>(kEFail);
}
void CServiceModule::ServiceMain() {}
void CServiceModule::Handler(std::uint32_t) {}
void CServiceModule::SetServiceState(std::uint32_t state) {
  if (RunAsService) Status.currentState = state;
}

}  // namespace keldran
