// Placeholder body until the start-up routine lands.
#include "app/service_module.h"

namespace keldran {

HResult CServiceModule::Startup(const std::string&) { return kSOk; }

}  // namespace keldran
