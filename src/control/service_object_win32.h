#pragma once
// The CService COM object that the run loop publishes in the running-object table.

#include <string>

#include "control/run_control.h"
#include "control/service_calls.h"
#include "platform/com.h"

namespace keldran {

// A fresh CService that forwards to the calls, as one counted IUnknown reference. Each live
// object holds a module lock; its IDispatch comes from the type library in the executable.
ObjectRef MakeServiceObject(ServiceCalls& calls, IRunControl& run, const std::string& exePath);

}  // namespace keldran
