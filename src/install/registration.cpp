// Registration and unregistration of a component are not built yet: both refuse clearly
// instead of pretending to succeed.
#include "app/service_module.h"

namespace keldran {

HResult CServiceModule::RegisterComponent(bool, bool) {
  return logError(category::kInstall, 901,
                  "Registration is not available in this build of the program");
}

HResult CServiceModule::UnregisterComponent() {
  return logError(category::kInstall, 905,
                  "Unregistration is not available in this build of the program");
}

}  // namespace keldran
