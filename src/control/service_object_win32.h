#pragma once
// The CService COM object that the run loop publishes in the running-object table.

#include "app/service_module.h"
#include "platform/com.h"

namespace keldran {

// A fresh CService bound to the module, as one counted IUnknown reference.
ObjectRef MakeServiceObject(CServiceModule& module);

}  // namespace keldran
