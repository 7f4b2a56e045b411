// Placeholder bodies until the run loop lands.
#include "app/service_module.h"

namespace keldran {

void CServiceModule::Run() {}
void CServiceModule::RequestQuit() { ClientRunning = false; }
bool CServiceModule::RegisterInRot() { return false; }
bool CServiceModule::FindRunningHost(std::unique_ptr<IRunningHost>* host) {
  host->reset();
  return true;
}
void CServiceModule::Lock() { ++ModuleLocks; }
void CServiceModule::Unlock() { --ModuleLocks; }

}  // namespace keldran
