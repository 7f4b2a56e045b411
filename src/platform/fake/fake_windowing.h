#pragma once
// Windows, message queues and timers in virtual time: with its queue empty, a wait runs the
// clock's next action, so a message loop plays a whole scenario without real waiting, and fails
// with nothing left to happen or past a day rather than hang. Messages posted to foreign windows
// (a client's) are recorded for the test.

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_file_system.h"
#include "platform/fake/fake_support.h"
#include "platform/windowing.h"

namespace keldran::fake {

class FakeWindowing final : public IWindowing, private FakeArea {
 public:
  FakeWindowing(FaultPlan& faults, FakeSystemTexts& texts, FakeClock& clock, FakeFileSystem& files,
                IProcesses& processes);
  ~FakeWindowing() override;

  std::uint32_t RegisterWindowMessage(const std::string& name) override;
  Win32Error CreateWindow(const WindowClassAndStyle& windowClass, WindowProcedure procedure,
                          WindowHandle* window) override;
  bool DestroyWindow(WindowHandle window) override;
  bool IsWindow(WindowHandle window) override;
  std::intptr_t DefWindowProc(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override {
    return 0;
  }
  bool PeekMessage(Message* message) override { return TakeMessage(message); }
  std::uint32_t WaitForProcessOrMessage(ProcessHandle process, std::uint32_t milliseconds) override;
  void DispatchMessage(const Message& message) override;
  bool PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  std::intptr_t SendMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) override;
  // The client's windows are foreign: it has none to close.
  std::size_t CloseProcessWindows(std::uint32_t) override { return 0; }
  bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam) override;
  void PostQuitMessage(int exitCode) override;
  std::uint32_t CurrentThreadId() override;
  std::uintptr_t SetTimer(std::uint32_t periodMilliseconds, TimerProcedure procedure) override;
  IconHandle LoadIconFile(const std::string& path, int size) override;
  IconHandle LoadIconResource(int resourceId) override;
  void DestroyIcon(IconHandle icon) override;
  void PaintText(WindowHandle, const std::string&, std::uint32_t) override {
    NotModelled("DrawText");
  }

  // Test side.
  // A window of another program (e.g. the client's) that messages can be posted to.
  void AddForeignWindow(WindowHandle window) {
    std::lock_guard lock(mutex_);
    foreign_.insert(window);
  }
  // Messages posted to a foreign window, in order.
  std::vector<Message> MessagesTo(WindowHandle window) const;
  void ClearMessagesTo(WindowHandle window) {
    std::lock_guard lock(mutex_);
    foreignMessages_.erase(window);
  }
  // The fake's own live windows.
  std::vector<WindowHandle> Windows() const;
  std::string IconFileOf(IconHandle icon) const;
  // Where each icon that is still loaded came from (a path, or "#201"), in load order.

 private:
  struct Window {
    WindowProcedure procedure;
    std::uint32_t threadId;
  };
  std::deque<Message>& QueueOf(std::uint32_t threadId) { return queues_[threadId]; }
  bool TakeMessage(Message* message);
  void FireTimer(std::uintptr_t id);
  IconHandle NewIcon(const std::string& source);

  FakeClock& clock_;
  FakeFileSystem& files_;
  IProcesses& processes_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, std::uint32_t> messages_;
  std::uint32_t nextMessage_ = 0xC000;
  std::map<WindowHandle, Window> windows_;
  std::set<WindowHandle> foreign_;
  std::map<WindowHandle, std::vector<Message>> foreignMessages_;
  std::map<std::thread::id, std::uint32_t> threadIds_;
  std::uint32_t nextThreadId_ = 100;
  std::map<std::uint32_t, std::deque<Message>> queues_;
  struct Timer {
    TimerProcedure procedure;
    std::uint32_t period;
    std::uint32_t threadId;
    bool pending = false;
    FakeClock::ActionId action = 0;
  };
  std::map<std::uintptr_t, Timer> timers_;
  std::uintptr_t nextTimer_ = 1;
  std::map<std::uintptr_t, std::string> icons_;  // by handle: in load order
};

}  // namespace keldran::fake
