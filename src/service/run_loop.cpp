// The run loop: publish the host in the running-object table, start the watchdog timer, the
// service window and the client, dispatch messages until told to quit or to stop, then take
// everything down in a fixed order.
#include <algorithm>

#include "log/error_text.h"
#include "service/service_host.h"

namespace keldran {

void ServiceHost::Run() {
  {
    LockGuard guard(*lock_);
    runThreadId_ = platform_.windowing.CurrentThreadId();
  }
  if (!SecureCom()) return;
  if (!supervisor_.ApplyCtrlDocAttribute(runAsService_)) {
    MarkFailed(kEFail);
    return;
  }
  events_.logInfo(category::kStartup,
                  runAsService_ ? event::kServiceStarted : event::kServiceStartedApp);
  supervisor_.PrepareRun();
  if (RegisterInRot() && StartWatchdog()) {
    CreateServiceWindow();
    if (supervisor_.LaunchClient()) {
      Serve();
    } else {
      MarkFailed(supervisor_.client().LastResult());
    }
  }
  TearDown();
  metrics_.HostEnded();
  events_.logInfo(category::kShutdown,
                  runAsService_ ? event::kServiceStopped : event::kServiceStoppedApp);
}

bool ServiceHost::StartWatchdog() {
  // The timer is never killed: it dies with the thread. A stop recorded while a modal loop (a
  // message box, the tray's menu) has taken the run loop's messages is carried out from here.
  const std::uintptr_t timer = platform_.windowing.SetTimer(kWatchdogPeriodMs, [this] {
    Act(supervisor_.WatchdogTick());
    metrics_.Tick();
    if (CarryOutStop()) {
      // The tray's menu or a message box ran the modal loop this tick came from: the menu is
      // closed, and the quit ends a message box's loop and then the run loop.
      platform_.dialogs.EndMenu();
      platform_.windowing.PostQuitMessage(0);
    }
  });
  if (timer != 0) return true;
  // Without its timer no heartbeat would ever be checked: the run does not go on blind.
  events_.logError(category::kStartup, event::kClientNotStarted,
                   ": Cannot start the watchdog's timer :", "");
  MarkFailed(kEFail);
  return false;
}

void ServiceHost::CreateServiceWindow() {
  // Without a display (a headless server under Wine, say) there is no window: the host runs
  // on without a tray icon; stops reach the run loop as thread messages.
  if (const Win32Error e = window_.Create(config_.DisplayName); e != 0) {
    const std::string text =
        "The service window could not be created: the host runs without its tray icon" +
        errorText(platform_.texts, e);
    events_.logWarning(category::kStartup, event::kText, text.c_str());
  }
}

bool ServiceHost::SecureCom() {
  if (const HResult hr = platform_.com.Initialize(); Failed(hr)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    events_.logError(category::kStartup, event::kClientNotStarted,
                     ": Cannot initialize COM :", reason.c_str());
    MarkFailed(hr);
    return false;
  }
  // Only the host's own account, SYSTEM and administrators may call in. Without that rule in
  // place COM's defaults would apply, so the host serves no one rather than anyone.
  const HResult hr = platform_.com.InitializeSecurity();
  if (Succeeded(hr)) return true;
  const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
  events_.logError(category::kStartup, event::kClientNotStarted,
                   ": Cannot secure the control interface :", reason.c_str());
  MarkFailed(hr);
  return false;
}

void ServiceHost::Serve() {
  IWindowing& windowing = platform_.windowing;
  for (;;) {
    if (!supervisor_.ClientRunning() || CarryOutStop()) return;
    Message message;
    if (windowing.PeekMessage(&message)) {
      if (message.message == window_message::kQuit) return;
      // The stop's wake-up is a thread message: the loop's next round takes it up.
      if (message.window == 0 && message.message == kStopMessage) continue;
      windowing.DispatchMessage(message);
      continue;
    }
    // Nothing queued: wait for a message, the client's end (so that a death is heard of at
    // once, not at the next tick) or a restart that waits out its pause.
    const SharedProcessHandle client = supervisor_.WatchedClient();
    const std::uint32_t woke = windowing.WaitForProcessOrMessage(
        client ? *client : ProcessHandle{}, supervisor_.MillisecondsToRestart());
    if (woke == wait_result::kFailed) {
      // The queue itself is broken: waiting on would spin, so the host ends as if told to quit.
      events_.logDebug("The message loop failed: " + errorText(platform_.texts, 0, false));
      MarkFailed(kEFail);
      return;
    }
    if (woke == wait_result::kObject0) Act(supervisor_.OnClientEnded());
    if (woke == wait_result::kTimeout) Act(supervisor_.RestartIfDue());
  }
}

void ServiceHost::Act(TickOutcome outcome) {
  switch (outcome) {
    case TickOutcome::kGoOn:
      break;
    case TickOutcome::kEndRun:
      RequestQuit();
      break;
    case TickOutcome::kFailRun:
      FailRun(supervisor_.client().LastResult());
      break;
  }
}

void ServiceHost::TearDown() {
  supervisor_.KillClient();
  window_.tray().ShowPendingNotice();
  serviceObject_.reset();
  if (rotCookie_ != 0) {
    (void)platform_.com.RevokeFromRunningObjectTable(rotCookie_);
    rotCookie_ = 0;
  }
  window_.DestroyServiceWindow();
}

bool ServiceHost::CarryOutStop() {
  std::uint32_t waitMs;
  {
    LockGuard guard(*lock_);
    if (stopBegun_ || !supervisor_.Stopping()) return false;
    stopBegun_ = true;
    waitMs = stopWaitMs_;
  }
  // The icon goes at once: the host is on its way out, and its menu has nothing left to offer.
  window_.tray().Remove();
  // A client with a window is told and given a grace; one without is asked at once the way the
  // console and the desktop ask; then the rest of the wait; then the client goes with the host.
  std::uint32_t waited = 0;
  if (supervisor_.NotifyStop()) {
    waited = std::min(waitMs, Supervisor::kStopGraceMs);
    if (WaitServingMessages(waited)) return true;
    supervisor_.AskClientToEnd(
        Format("did not end within %u s of the stop request", waited / 1000).c_str());
  } else {
    supervisor_.AskClientToEnd("has no window to be told of the stop");
  }
  if (!WaitServingMessages(waitMs - waited)) {
    events_.logDebug(Format(
        "Stop: the client did not end within %u s of the stop request: it is ended with the host",
        waitMs / 1000));
  }
  return true;
}

bool ServiceHost::WaitServingMessages(std::uint32_t waitMs) {
  const SharedProcessHandle client = supervisor_.ClientHandle();
  if (!client) return true;
  IWindowing& windowing = platform_.windowing;
  IClock& clock = platform_.clock;
  const std::uint32_t started = clock.TickCount();
  std::uint32_t checkpoint = started;
  for (;;) {
    Message message;
    while (windowing.PeekMessage(&message)) {
      // A quit (the last COM reference of an application run) changes nothing: the run ends
      // after the stop anyway.
      if (message.message == window_message::kQuit) continue;
      if (message.window == 0 && message.message == kStopMessage) continue;
      windowing.DispatchMessage(message);
    }
    const std::uint32_t now = clock.TickCount();
    if (now - checkpoint >= kCheckpointMs) {
      SetServiceState(service_state::kStopPending);
      checkpoint = now;
    }
    const std::uint32_t elapsed = now - started;
    if (elapsed >= waitMs) return false;
    const std::uint32_t slice = std::min(waitMs - elapsed, kCheckpointMs - (now - checkpoint));
    const std::uint32_t woke = windowing.WaitForProcessOrMessage(*client, slice);
    if (woke == wait_result::kObject0) return true;
    if (woke == wait_result::kFailed) return false;
  }
}

void ServiceHost::RequestQuit() {
  // The Service Control Manager hears at once that the service is on its way out; it is
  // reported stopped when the run has been taken down.
  SetServiceState(service_state::kStopPending);
  supervisor_.EndRun();
  std::uint32_t thread;
  {
    LockGuard guard(*lock_);
    thread = runThreadId_;
  }
  (void)platform_.windowing.PostThreadMessage(thread, window_message::kQuit, 0, 0);
}

void ServiceHost::FailRun(HResult reason) {
  MarkFailed(reason);
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
  events_.logError(category::kStartup, event::kClientNotStarted,
                   ": Cannot register service in ROT :", reason.c_str());
  MarkFailed(hr);
  return false;
}

bool ServiceHost::FindRunningHost(std::unique_ptr<IRunningHost>* host) {
  host->reset();
  const HResult hr = platform_.com.FindInRunningObjectTable(config_.ServiceID, host);
  if (Failed(hr)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    events_.logError(category::kStartup, event::kClientNotStarted,
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
