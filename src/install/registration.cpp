// Registration and unregistration of a component are not built yet: both refuse clearly
// instead of pretending to succeed.
#include "install/registration.h"

namespace keldran {

HResult Registration::RegisterComponent(bool, bool) {
  return events_.logError(category::kInstall, 901,
                          "Registration is not available in this build of the program");
}

HResult Registration::UnregisterComponent() {
  return events_.logError(category::kInstall, 905,
                          "Unregistration is not available in this build of the program");
}

}  // namespace keldran
