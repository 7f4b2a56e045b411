// Placeholder bodies until the run loop lands.
#include "app/service_module.h"
#include "log/error_text.h"

namespace keldran {

void CServiceModule::Run() {}
void CServiceModule::RequestQuit() { ClientRunning = false; }
bool CServiceModule::RegisterInRot() { return false; }
bool CServiceModule::FindRunningHost(std::unique_ptr<IRunningHost>* host) {
  host->reset();
  const HResult hr = platform_.com.FindInRunningObjectTable(ServiceID, host);
  if (Failed(hr)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    logError(category::kStartup, 106, ": Unexpected error finding ServiceID in ROT :",
             reason.c_str());
    return false;
  }
  return true;
}
void CServiceModule::Lock() { ++ModuleLocks; }
void CServiceModule::Unlock() { --ModuleLocks; }

}  // namespace keldran
