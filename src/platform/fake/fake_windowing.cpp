#include "platform/fake/fake_windowing.h"

namespace keldran::fake {
namespace {

constexpr std::uint64_t kDeadline = 24ull * 3600 * 1000;  // a day of virtual time

}  // namespace

FakeWindowing::FakeWindowing(FaultPlan& faults, FakeSystemTexts& texts, FakeClock& clock,
                             FakeFileSystem& files, IProcesses& processes)
    : FakeArea(faults, texts), clock_(clock), files_(files), processes_(processes) {}

FakeWindowing::~FakeWindowing() {
  for (auto& [_, timer] : timers_) clock_.Cancel(timer.action);
}

std::uint32_t FakeWindowing::RegisterWindowMessage(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto [it, inserted] = messages_.emplace(FoldCase(name), nextMessage_);
  if (inserted) ++nextMessage_;
  return it->second;
}

std::uint32_t FakeWindowing::CurrentThreadId() {
  std::lock_guard lock(mutex_);
  auto [it, inserted] = threadIds_.emplace(std::this_thread::get_id(), nextThreadId_);
  if (inserted) nextThreadId_ += 4;
  return it->second;
}

Win32Error FakeWindowing::CreateWindow(const WindowClassAndStyle&, WindowProcedure procedure,
                                       WindowHandle* window) {
  std::unique_lock lock(mutex_);
  *window = 0;
  const WindowHandle handle = NewHandle();
  windows_[handle] = Window{procedure, CurrentThreadId()};
  lock.unlock();
  procedure(handle, window_message::kCreate, 0, 0);  // before the creation returns
  *window = handle;
  return 0;
}

bool FakeWindowing::DestroyWindow(WindowHandle window) {
  std::unique_lock lock(mutex_);
  auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  WindowProcedure procedure = it->second.procedure;
  lock.unlock();
  procedure(window, window_message::kDestroy, 0, 0);
  lock.lock();
  windows_.erase(window);
  // Messages still queued for the window are dropped with it.
  for (auto& [_, queue] : queues_) {
    std::erase_if(queue, [window](const Message& m) { return m.window == window; });
  }
  return true;
}

bool FakeWindowing::IsWindow(WindowHandle window) {
  std::lock_guard lock(mutex_);
  return windows_.count(window) || foreign_.count(window);
}

bool FakeWindowing::TakeMessage(Message* message) {
  std::lock_guard lock(mutex_);
  auto& queue = QueueOf(CurrentThreadId());
  if (queue.empty()) return false;
  *message = queue.front();
  queue.pop_front();
  if (message->message == window_message::kTimer && message->window == 0) {
    auto timer = timers_.find(message->wParam);
    if (timer != timers_.end()) timer->second.pending = false;
  }
  return true;
}

std::uint32_t FakeWindowing::WaitForProcessOrMessage(ProcessHandle process,
                                                     std::uint32_t milliseconds) {
  // An endless wait ends after a day of virtual time rather than hang.
  const std::uint64_t deadline =
      milliseconds == kInfinite ? kDeadline : clock_.Elapsed() + milliseconds;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (!QueueOf(CurrentThreadId()).empty()) return wait_result::kMessage;
    }
    if (process) {
      const std::uint32_t ended = processes_.WaitForProcess(process, 0);
      if (ended != wait_result::kTimeout) return ended;
    }
    auto next = clock_.NextActionTime();
    if (!next || *next > deadline) {
      if (milliseconds == kInfinite) {
        Fail(win32_error::kTimeout);
        return wait_result::kFailed;
      }
      clock_.Advance(deadline - clock_.Elapsed());
      return wait_result::kTimeout;
    }
    clock_.RunNextAction();
  }
}

void FakeWindowing::DispatchMessage(const Message& message) {
  std::unique_lock lock(mutex_);
  if (message.window == 0) {
    if (message.message == window_message::kTimer) {
      auto timer = timers_.find(message.wParam);
      if (timer == timers_.end()) return;
      TimerProcedure procedure = timer->second.procedure;
      lock.unlock();
      procedure();
    }
    return;
  }
  auto it = windows_.find(message.window);
  if (it == windows_.end()) return;
  WindowProcedure procedure = it->second.procedure;
  lock.unlock();
  procedure(message.window, message.message, message.wParam, message.lParam);
}

bool FakeWindowing::PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(window);
  if (it != windows_.end()) {
    QueueOf(it->second.threadId).push_back(Message{window, message, wParam, lParam});
    return true;
  }
  if (foreign_.count(window)) {
    foreignMessages_[window].push_back(Message{window, message, wParam, lParam});
    return true;
  }
  Fail(win32_error::kInvalidWindowHandle);
  return false;
}

std::intptr_t FakeWindowing::SendMessage(WindowHandle window, std::uint32_t message,
                                         std::uintptr_t wParam, std::intptr_t lParam) {
  std::unique_lock lock(mutex_);
  auto it = windows_.find(window);
  if (it == windows_.end()) return 0;
  WindowProcedure procedure = it->second.procedure;
  lock.unlock();
  return procedure(window, message, wParam, lParam);
}

bool FakeWindowing::PostThreadMessage(std::uint32_t threadId, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) {
  std::lock_guard lock(mutex_);
  QueueOf(threadId).push_back(Message{0, message, wParam, lParam});
  return true;
}

void FakeWindowing::PostQuitMessage(int exitCode) {
  std::lock_guard lock(mutex_);
  QueueOf(CurrentThreadId())
      .push_back(Message{0, window_message::kQuit, static_cast<std::uintptr_t>(exitCode), 0});
}

std::uintptr_t FakeWindowing::SetTimer(std::uint32_t period, TimerProcedure procedure) {
  if (Injected("SetTimer")) return 0;
  std::lock_guard lock(mutex_);
  const std::uintptr_t id = nextTimer_++;
  Timer& timer = timers_[id];
  timer.procedure = std::move(procedure);
  timer.period = period;
  timer.threadId = CurrentThreadId();
  timer.action = clock_.After(period, [this, id] { FireTimer(id); });
  return id;
}

void FakeWindowing::FireTimer(std::uintptr_t id) {
  std::lock_guard lock(mutex_);
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  // Like WM_TIMER, a tick is one pending message at most, however long the loop was busy.
  if (!it->second.pending) {
    it->second.pending = true;
    QueueOf(it->second.threadId).push_back(Message{0, window_message::kTimer, id, 0});
  }
  it->second.action = clock_.After(it->second.period, [this, id] { FireTimer(id); });
}

IconHandle FakeWindowing::LoadIconFile(const std::string& path, int) {
  std::lock_guard lock(mutex_);
  if (path.empty() || !files_.Exists(path) || files_.IsDirectory(path)) {
    Fail(win32_error::kFileNotFound);
    return IconHandle{};
  }
  return NewIcon(path);
}

IconHandle FakeWindowing::LoadIconResource(int resourceId) {
  std::lock_guard lock(mutex_);
  return NewIcon("#" + std::to_string(resourceId));
}

IconHandle FakeWindowing::NewIcon(const std::string& source) {
  const IconHandle icon{NewHandle()};
  icons_[icon.value] = source;
  return icon;
}

void FakeWindowing::DestroyIcon(IconHandle icon) {
  std::lock_guard lock(mutex_);
  icons_.erase(icon.value);
}

std::vector<Message> FakeWindowing::MessagesTo(WindowHandle window) const {
  std::lock_guard lock(mutex_);
  auto it = foreignMessages_.find(window);
  return it == foreignMessages_.end() ? std::vector<Message>{} : it->second;
}

std::vector<WindowHandle> FakeWindowing::Windows() const {
  std::lock_guard lock(mutex_);
  std::vector<WindowHandle> out;
  for (const auto& [handle, _] : windows_) out.push_back(handle);
  return out;
}

std::string FakeWindowing::IconFileOf(IconHandle icon) const {
  std::lock_guard lock(mutex_);
  auto it = icons_.find(icon.value);
  return it == icons_.end() ? std::string() : it->second;
}

}  // namespace keldran::fake
