#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

class WindowingTest : public ::testing::Test {
 protected:
  WindowingTest() : w_(backend_.platform().windowing) {}

  // A window whose procedure records every message and answers the rest by default.
  WindowHandle Create(std::vector<std::uint32_t>* seen) {
    WindowHandle window = 0;
    EXPECT_EQ(w_.CreateWindow(
                  WindowClassAndStyle{0, WS_OVERLAPPEDWINDOW, 0, "test", 0},
                  [this, seen](WindowHandle hwnd, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) {
                    seen->push_back(message);
                    return w_.DefWindowProc(hwnd, message, wParam, lParam);
                  },
                  &window),
              0u);
    return window;
  }

  // Dispatches until WM_QUIT; returns its exit code.
  int RunLoop() {
    Message m;
    int r = 0;
    while ((r = w_.GetMessage(&m)) > 0) w_.DispatchMessage(m);
    EXPECT_EQ(r, 0);
    return static_cast<int>(m.wParam);
  }

  Win32Platform backend_;
  IWindowing& w_;
};

bool Contains(const std::vector<std::uint32_t>& seen, std::uint32_t message) {
  return std::find(seen.begin(), seen.end(), message) != seen.end();
}

TEST_F(WindowingTest, WindowSeesItsCreationBeforeCreateReturnsAndItsDestruction) {
  std::vector<std::uint32_t> seen;
  WindowHandle window = Create(&seen);
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(Contains(seen, window_message::kCreate));
  EXPECT_FALSE(Contains(seen, window_message::kDestroy));
  EXPECT_TRUE(w_.IsWindow(window));

  EXPECT_TRUE(w_.DestroyWindow(window));
  EXPECT_TRUE(Contains(seen, window_message::kDestroy));
  EXPECT_FALSE(w_.IsWindow(window));
  EXPECT_FALSE(w_.DestroyWindow(window));
}

TEST_F(WindowingTest, PostedAndSentMessagesReachTheProcedureWithTheirParameters) {
  std::vector<Message> received;
  WindowHandle window = 0;
  ASSERT_EQ(w_.CreateWindow(
                WindowClassAndStyle{},
                [&](WindowHandle hwnd, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) -> std::intptr_t {
                  if (message < window_message::kUser) {
                    return w_.DefWindowProc(hwnd, message, wParam, lParam);
                  }
                  received.push_back(Message{hwnd, message, wParam, lParam});
                  if (message == window_message::kUser + 1) w_.PostQuitMessage(3);
                  return 42;
                },
                &window),
            0u);
  EXPECT_EQ(w_.SendMessage(window, window_message::kUser, 1, -2), 42);
  ASSERT_TRUE(w_.PostMessage(window, window_message::kUser + 1, 7, 9));
  EXPECT_EQ(RunLoop(), 3);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].lParam, -2);
  EXPECT_EQ(received[1].window, window);
  EXPECT_EQ(received[1].wParam, 7u);
  EXPECT_EQ(received[1].lParam, 9);
  EXPECT_TRUE(w_.DestroyWindow(window));
}

TEST_F(WindowingTest, ThrowingProcedureFallsBackToTheDefault) {
  WindowHandle window = 0;
  ASSERT_EQ(w_.CreateWindow(
                WindowClassAndStyle{},
                [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) -> std::intptr_t {
                  throw std::runtime_error("no");
                },
                &window),
            0u);
  EXPECT_TRUE(w_.IsWindow(window));
  EXPECT_TRUE(w_.DestroyWindow(window));
}

TEST_F(WindowingTest, TimerProcedureRunsFromTheMessageLoop) {
  int ticks = 0;
  ASSERT_NE(w_.SetTimer(10,
                        [&] {
                          if (++ticks == 3) w_.PostQuitMessage(0);
                        }),
            0u);
  RunLoop();
  EXPECT_EQ(ticks, 3);
}

}  // namespace
}  // namespace keldran::win32
