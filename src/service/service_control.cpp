// The host as the Service Control Manager sees it: the start operation, the service main
// function, status reports and the control handler.
#include "log/error_text.h"
#include "service/service_host.h"

namespace keldran {

ServiceHost::ServiceHost(Platform& platform, ComponentLog& events, const Configuration& config,
                         Supervisor& supervisor, MetricsFile& metrics, CServiceWin& window,
                         ServiceObjectFactory objectFactory)
    : platform_(platform),
      events_(events),
      config_(config),
      supervisor_(supervisor),
      metrics_(metrics),
      window_(window),
      objectFactory_(std::move(objectFactory)),
      lock_(platform.sync.CreateCriticalSection(0)) {
  status_.serviceType = service_type::kOwnProcess;
  status_.currentState = service_state::kStopped;
  status_.controlsAccepted =
      service_accept::kStop | service_accept::kShutdown | service_accept::kPreshutdown;
  window_.SetStopHandler([this] { RequestStop(); });
}

void ServiceHost::StartRun(bool runAsService, bool stopRequested) {
  runAsService_ = runAsService;
  std::unique_ptr<IRunningHost> host;
  if (!FindRunningHost(&host)) {
    MarkFailed(kEFail);
    return;
  }
  if (host) {
    if (stopRequested) {
      StopRunningHost(std::move(host));
    } else {
      events_.logError(category::kStartup, event::kInitFailed,
                       "\n\r\n\rService is already running");
      MarkFailed(kEFail);
    }
    return;
  }
  // A stop request with no host running has nothing to do.
  if (stopRequested) return;
  if (runAsService_) {
    const Win32Error error =
        platform_.services.RunDispatcher(config_.ServiceName, [this] { ServiceMain(); });
    if (error == 0) return;
    // Not started by the Service Control Manager (1063, from a console for example): run as an
    // application without a word, so the events say "(as application)".
    runAsService_ = false;
  }
  Run();
}

void ServiceHost::StopRunningHost(std::unique_ptr<IRunningHost> host) {
  const HResult asked = host->RequestStop();
  // Our reference would keep an object of the stopping host alive.
  host.reset();
  if (Failed(asked)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(asked));
    events_.logError(category::kShutdown, event::kText,
                     ("The running host could not be asked to stop" + reason).c_str());
    MarkFailed(asked);
    return;
  }
  // The host leaves the table as the last step of its run, after its client has ended.
  IClock& clock = platform_.clock;
  const std::uint32_t started = clock.TickCount();
  const std::uint32_t limit = kStopWaitMs + kStopCommandMarginMs;
  while (clock.TickCount() - started < limit) {
    clock.Sleep(kStopPollMs);
    std::unique_ptr<IRunningHost> still;
    if (Failed(platform_.com.FindInRunningObjectTable(config_.ServiceID, &still)) || !still) return;
  }
  const std::string text =
      Format("The running host was asked to stop but has not ended within %u s", limit / 1000);
  events_.logError(category::kShutdown, event::kText, text.c_str());
  MarkFailed(HResultFromWin32(win32_error::kTimeout));
}

void ServiceHost::ServiceMain() {
  {
    LockGuard guard(*lock_);
    status_.currentState = service_state::kStartPending;
  }
  ServiceStatusHandle handle;
  if (platform_.services.RegisterControlHandler(
          config_.ServiceName, [this](std::uint32_t control) { return Handler(control); },
          &handle) != 0) {
    events_.logError(category::kStartup, event::kHandlerNotInstalled);
    MarkFailed(kEFail);
    return;
  }
  {
    LockGuard guard(*lock_);
    statusHandle_ = handle;
    status_.win32ExitCode = 0;
    status_.serviceSpecificExitCode = 0;
  }
  SetServiceState(service_state::kStartPending);
  Run();
  ReportStopped();
}

void ServiceHost::ReportLocked() {
  if (runAsService_) (void)platform_.services.SetStatus(statusHandle_, status_);
}

void ServiceHost::SetServiceState(std::uint32_t state) {
  if (!runAsService_) return;
  LockGuard guard(*lock_);
  // Once the stop is on its way, a client's Connect or Running must not tell the Service Control
  // Manager the service runs again.
  if (stopReported_ && state != service_state::kStopPending) return;
  status_.currentState = state;
  if (state == service_state::kStopPending) {
    // A pending state must show progress: each report advances the checkpoint.
    stopReported_ = true;
    ++status_.checkPoint;
    status_.waitHint = kStopWaitHintMs;
  } else {
    status_.checkPoint = 0;
    status_.waitHint = 0;
  }
  ReportLocked();
}

void ServiceHost::ReportStopProgress() {
  bool stopping;
  {
    LockGuard guard(*lock_);
    stopping = stopReported_;
  }
  if (stopping) SetServiceState(service_state::kStopPending);
}

void ServiceHost::ReportStopped() {
  // Once the service reports itself stopped, the Service Control Manager may end the process:
  // what the run wrote must be in the file by then.
  (void)events_.log().Flush(kFinalFlushMs);
  LockGuard guard(*lock_);
  status_.currentState = service_state::kStopped;
  status_.checkPoint = 0;
  status_.waitHint = 0;
  // A failed run shows as such, so that `sc query` tells why and the recovery actions fire.
  status_.win32ExitCode = failed_ ? win32_error::kServiceSpecificError : 0;
  status_.serviceSpecificExitCode = failed_ ? static_cast<std::uint32_t>(result_) : 0;
  ReportLocked();
}

bool ServiceHost::runFailed() const {
  LockGuard guard(*lock_);
  return failed_;
}

HResult ServiceHost::runResult() const {
  LockGuard guard(*lock_);
  return result_;
}

ServiceStatus ServiceHost::status() const {
  LockGuard guard(*lock_);
  return status_;
}

void ServiceHost::MarkFailed(HResult reason) {
  LockGuard guard(*lock_);
  if (failed_) return;
  failed_ = true;
  result_ = Failed(reason) ? reason : kEFail;
}

void ServiceHost::BeginStop(std::uintptr_t code, std::uint32_t waitMs) {
  // From here on the client's end is the stop's doing, whatever the run loop is busy with.
  if (!supervisor_.BeginStop(code)) return;
  std::uint32_t thread;
  {
    LockGuard guard(*lock_);
    stopWaitMs_ = waitMs;
    thread = runThreadId_;
  }
  SetServiceState(service_state::kStopPending);
  // A run loop that has not started yet finds the stop before its first message.
  if (thread != 0) (void)platform_.windowing.PostThreadMessage(thread, kStopMessage, code, 0);
}

void ServiceHost::RequestStop() { BeginStop(client_event::kStop, kStopWaitMs); }

Win32Error ServiceHost::Handler(std::uint32_t control) {
  switch (control) {
    case service_control::kStop:
      RequestStop();
      return 0;
    case service_control::kPreshutdown:
      BeginStop(client_event::kShutdown, kPreshutdownWaitMs);
      return 0;
    case service_control::kShutdown:
      BeginStop(client_event::kShutdown, kShutdownWaitMs);
      return 0;
    case service_control::kInterrogate:
      return 0;
    default: {
      const std::string text =
          "Service Handler received unrecognized control code: " + hexText(control);
      events_.logWarning(category::kRun, event::kBadRequest, text.c_str());
      return win32_error::kCallNotImplemented;
    }
  }
}

}  // namespace keldran
