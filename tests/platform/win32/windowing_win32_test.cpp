// Creation, messages with their parameters and timers reach the host's procedures in every
// end-to-end run (its window, the tray's right click, the watchdog); here what no run may show.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

TEST(WindowingTest, ThrowingProcedureFallsBackToTheDefault) {
  Win32Platform backend;
  IWindowing& w = backend.platform().windowing;
  WindowHandle window = 0;
  ASSERT_EQ(w.CreateWindow(
                WindowClassAndStyle{},
                [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) -> std::intptr_t {
                  throw std::runtime_error("no");
                },
                &window),
            0u);
  EXPECT_TRUE(w.IsWindow(window));
  EXPECT_TRUE(w.DestroyWindow(window));
}

}  // namespace
}  // namespace keldran::win32
