// The run loop: publish the host in the running-object table, start the watchdog timer, the
// service window and the client, dispatch messages until told to quit, then take everything
// down in a fixed order.
#include "log/error_text.h"
#include "service/service_host.h"

namespace keldran {

void ServiceHost::Run() {
  IWindowing& windowing = platform_.windowing;
  {
    LockGuard guard(*lock_);
    runThreadId_ = windowing.CurrentThreadId();
  }
  (void)platform_.com.Initialize();
  // Only the host's own account, SYSTEM and administrators may call in. Without that rule in
  // place COM's defaults would apply, so the host serves no one rather than anyone.
  if (const HResult hr = platform_.com.InitializeSecurity(); Failed(hr)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    events_.logError(category::kStartup, 106,
                     ": Cannot secure the control interface :", reason.c_str());
    runFailed_ = true;
    return;
  }

  if (!supervisor_.ApplyCtrlDocAttribute(runAsService_)) {
    runFailed_ = true;
    return;
  }
  events_.logInfo(category::kStartup, runAsService_ ? 103 : 104);
  supervisor_.PrepareRun();
  if (!RegisterInRot()) {
    runFailed_ = true;
    return;
  }
  // The timer is never killed: it dies with the thread.
  (void)windowing.SetTimer(kWatchdogPeriodMs, [this] {
    if (!supervisor_.WatchdogTick()) FailRun();
  });
  (void)window_.Create(config_.DisplayName);
  if (!supervisor_.LaunchClient()) runFailed_ = true;

  Message message;
  while (supervisor_.ClientRunning()) {
    const int result = windowing.GetMessage(&message);
    if (result == 0) break;  // WM_QUIT
    if (result < 0) {
      // The queue itself is broken: waiting on would spin, so the host ends as if told to quit.
      events_.logDebug("The message loop failed: " + errorText(platform_.texts, 0, false));
      runFailed_ = true;
      break;
    }
    windowing.DispatchMessage(message);
  }

  supervisor_.KillClient();
  window_.tray().ShowPendingNotice();
  serviceObject_.reset();
  if (rotCookie_ != 0) {
    (void)platform_.com.RevokeFromRunningObjectTable(rotCookie_);
    rotCookie_ = 0;
  }
  window_.DestroyServiceWindow();
}

void ServiceHost::WaitServingMessages(std::uint32_t waitMs) {
  const SharedProcessHandle client = supervisor_.ClientHandle();
  if (!client) return;
  IWindowing& windowing = platform_.windowing;
  IClock& clock = platform_.clock;
  const std::uint32_t started = clock.TickCount();
  bool quit = false;
  for (;;) {
    Message message;
    while (windowing.PeekMessage(&message)) {
      // The quit that the window's destruction posted belongs to the run loop, after the wait.
      if (message.message == window_message::kQuit) {
        quit = true;
        continue;
      }
      windowing.DispatchMessage(message);
    }
    const std::uint32_t elapsed = clock.TickCount() - started;
    if (elapsed >= waitMs) break;
    if (windowing.WaitForProcessOrMessage(*client, waitMs - elapsed) != wait_result::kMessage)
      break;  // the client ended, the time is up, or the wait failed
  }
  if (quit) windowing.PostQuitMessage(0);
}

bool ServiceHost::OnRunThread() const {
  LockGuard guard(*lock_);
  return runThreadId_ != 0 && runThreadId_ == platform_.windowing.CurrentThreadId();
}

void ServiceHost::RequestQuit() {
  SetServiceState(service_state::kStopped);
  supervisor_.EndRun();
  std::uint32_t thread;
  {
    LockGuard guard(*lock_);
    thread = runThreadId_;
  }
  (void)platform_.windowing.PostThreadMessage(thread, window_message::kQuit, 0, 0);
}

void ServiceHost::FailRun() {
  runFailed_ = true;
  RequestQuit();
}

bool ServiceHost::RegisterInRot() {
  HResult hr = kSOk;
  try {
    if (!objectFactory_) throwError(kEFail);
    serviceObject_ = objectFactory_();
    if (!serviceObject_) throwError(kEFail);
    // For callers of the host's own account only: the client runs under it, since the host
    // starts it, and no one else has business with the host's object.
    hr = platform_.com.RegisterInRunningObjectTable(
        config_.ServiceID, serviceObject_, rot_flags::kRegistrationKeepsAlive, &rotCookie_);
    throwIfFailed(hr);
    return true;
  } catch (const UtilError& error) {
    hr = error.code();
  } catch (...) {
    hr = kEFail;
  }
  const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
  events_.logError(category::kStartup, 106, ": Cannot register service in ROT :", reason.c_str());
  return false;
}

bool ServiceHost::FindRunningHost(std::unique_ptr<IRunningHost>* host) {
  host->reset();
  const HResult hr = platform_.com.FindInRunningObjectTable(config_.ServiceID, host);
  if (Failed(hr)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    events_.logError(category::kStartup, 106,
                     ": Unexpected error finding ServiceID in ROT :", reason.c_str());
    return false;
  }
  return true;
}

void ServiceHost::Lock() {
  LockGuard guard(*lock_);
  ++moduleLocks_;
}

void ServiceHost::Unlock() {
  bool last;
  {
    LockGuard guard(*lock_);
    last = --moduleLocks_ == 0;
  }
  // In an application run the last COM lock ends the run.
  if (last && !runAsService_) RequestQuit();
}

}  // namespace keldran
