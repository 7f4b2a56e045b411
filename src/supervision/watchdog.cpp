// Placeholder body until the watchdog lands.
#include "app/service_module.h"

namespace keldran {

void CServiceModule::WatchdogTick() {}

}  // namespace keldran
