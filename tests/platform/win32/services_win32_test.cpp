// The service manager's own behaviour (creation, the levels Wine refuses, deletion, status) is
// read back by the registration and service end-to-end tests; here only what none of them can
// reach.
#include <gtest/gtest.h>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

// Wine gives up on the missing service manager only after about 10 s.
TEST(ServicesTest, DispatcherOutsideTheServiceManagerFails) {
  Win32Platform backend;
  bool ran = false;
  EXPECT_EQ(backend.platform().services.RunDispatcher("KeldranTest", [&] { ran = true; }),
            win32_error::kFailedServiceControllerConnect);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace keldran::win32
