#pragma once
// Windows, message queues and timers in virtual time. GetMessage hands out queued messages; when
// the queue is empty it moves the clock to the next scheduled action (a timer tick, a child's
// exit, a step of the test) and runs it, so a message loop runs a whole scenario without real
// waiting. With nothing left to happen, or past the deadline, GetMessage fails instead of
// hanging. Messages posted to windows that are not the fake's own (a client's window) are
// recorded for the test to read.

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
  std::intptr_t DefWindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override;
  int GetMessage(Message* message) override;
  bool PeekMessage(Message* message) override;
  std::uint32_t WaitForProcessOrMessage(ProcessHandle process, std::uint32_t milliseconds) override;
  void DispatchMessage(const Message& message) override;
  bool PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  std::intptr_t SendMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) override;
  bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam) override;
  void PostQuitMessage(int exitCode) override;
  std::uint32_t CurrentThreadId() override;
  std::uintptr_t SetTimer(std::uint32_t periodMilliseconds, TimerProcedure procedure) override;
  IconHandle LoadIconFile(const std::string& path, int size) override;
  IconHandle LoadIconResource(int resourceId) override;
  void DestroyIcon(IconHandle icon) override;
  void PaintText(WindowHandle window, const std::string& text, std::uint32_t format) override;

  // Test side.
  // Runs the action as if on another thread (the service control dispatcher's, say): the
  // thread id it sees is one of its own, so messages it posts to the run loop's thread queue up
  // there.
  void RunAsOtherThread(const std::function<void()>& action);
  // A window of another program (e.g. the client's) that messages can be posted to.
  void AddForeignWindow(WindowHandle window);
  void RemoveForeignWindow(WindowHandle window);
  // Messages posted or sent to a foreign window, in order.
  std::vector<Message> MessagesTo(WindowHandle window) const;
  void ClearMessagesTo(WindowHandle window);
  // The fake's own live windows and the class and style each was created with.
  std::vector<WindowHandle> Windows() const;
  WindowClassAndStyle ClassOf(WindowHandle window) const;
  // GetMessage fails once the next event lies past this virtual time (default: a day after
  // construction), so a scenario that never ends shows up as a failure.
  void SetDeadline(std::uint64_t elapsedMilliseconds);
  bool DeadlineHit() const;
  std::size_t TimerCount() const;
  std::vector<std::pair<WindowHandle, std::string>> Paintings() const;
  std::string IconFileOf(IconHandle icon) const;
  // Where each icon that is still loaded came from (a path, or "#201"), in load order.
  std::vector<std::string> LoadedIcons() const;

 private:
  struct Window {
    WindowProcedure procedure;
    WindowClassAndStyle windowClass;
    std::uint32_t threadId;
  };
  std::deque<Message>& QueueOf(std::uint32_t threadId);
  bool TakeMessage(Message* message);
  void FireTimer(std::uintptr_t id);

  FakeClock& clock_;
  FakeFileSystem& files_;
  IProcesses& processes_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, std::uint32_t> messages_;
  std::uint32_t nextMessage_ = 0xC000;
  std::map<WindowHandle, Window> windows_;
  WindowHandle nextWindow_ = 0x10010;
  std::set<WindowHandle> foreign_;
  std::map<WindowHandle, std::vector<Message>> foreignMessages_;
  std::map<std::thread::id, std::uint32_t> threadIds_;
  std::uint32_t otherThread_ = 0;  // set while RunAsOtherThread runs its action
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
  std::uint64_t deadline_ = 24ull * 3600 * 1000;
  bool deadlineHit_ = false;
  std::map<std::uintptr_t, std::string> icons_;
  std::uintptr_t nextIcon_ = 0x5000;
  std::vector<std::pair<WindowHandle, std::string>> paintings_;
};

}  // namespace keldran::fake
