// The host as the Service Control Manager sees it: the start operation, the service main
// function, status reports and the control handler.
#include "log/error_text.h"
#include "service/service_host.h"

namespace keldran {

ServiceHost::ServiceHost(Platform& platform, ComponentLog& events, const Configuration& config,
                         Supervisor& supervisor, CServiceWin& window,
                         ServiceObjectFactory objectFactory)
    : platform_(platform),
      events_(events),
      config_(config),
      supervisor_(supervisor),
      window_(window),
      objectFactory_(std::move(objectFactory)),
      lock_(platform.sync.CreateCriticalSection(0)) {
  status_.serviceType = service_type::kOwnProcess;
  status_.currentState = service_state::kStopped;
  status_.controlsAccepted = 5;  // stop and shutdown
  window_.SetStopHandler([this] { Handler(service_control::kStop); });
}

void ServiceHost::StartRun(bool runAsService, bool stopRequested) {
  runAsService_ = runAsService;
  std::unique_ptr<IRunningHost> host;
  if (!FindRunningHost(&host)) {
    runFailed_ = true;
    return;
  }
  if (host) {
    if (stopRequested) {
      (void)host->RequestStop();
    } else {
      events_.logError(category::kStartup, 102, "\n\r\n\rService is already running");
      runFailed_ = true;
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

void ServiceHost::ServiceMain() {
  {
    LockGuard guard(*lock_);
    status_.currentState = service_state::kStartPending;
  }
  ServiceStatusHandle handle;
  if (platform_.services.RegisterControlHandler(
          config_.ServiceName, [this](std::uint32_t control) { Handler(control); }, &handle) != 0) {
    events_.logError(category::kStartup, 101);
    runFailed_ = true;
    return;
  }
  {
    LockGuard guard(*lock_);
    statusHandle_ = handle;
  }
  SetServiceState(service_state::kStartPending);
  {
    LockGuard guard(*lock_);
    status_.win32ExitCode = 0;
    status_.checkPoint = 0;
    status_.waitHint = 0;
  }
  Run();
  SetServiceState(service_state::kStopped);
}

void ServiceHost::SetServiceState(std::uint32_t state) {
  if (!runAsService_) return;
  LockGuard guard(*lock_);
  status_.currentState = state;
  (void)platform_.services.SetStatus(statusHandle_, status_);
}

std::uint32_t ServiceHost::win32ExitCode() const {
  LockGuard guard(*lock_);
  return status_.win32ExitCode;
}

ServiceStatus ServiceHost::status() const {
  LockGuard guard(*lock_);
  return status_;
}

// Stop and shutdown alike: report the stop as pending, tell the client (the code is the control
// itself), give it time to end, and end the run. From the first step on, the supervisor takes
// the client's end for the stop's doing, not for a death.
void ServiceHost::EndClientAndQuit(std::uintptr_t code, std::uint32_t waitMs) {
  SetServiceState(service_state::kStopPending);
  supervisor_.BeginStop(code);
  if (OnRunThread()) {
    WaitServingMessages(waitMs);
  } else {
    (void)supervisor_.WaitForClientEnd(waitMs);
  }
  RequestQuit();
}

void ServiceHost::Handler(std::uint32_t control) {
  switch (control) {
    case service_control::kStop: {
      EndClientAndQuit(client_event::kStop, kStopWaitMs);
      bool first;
      {
        LockGuard guard(*lock_);
        first = std::exchange(stopEventPending_, false);
      }
      if (first) events_.logInfo(category::kShutdown, runAsService_ ? 400 : 401);
      break;
    }
    case service_control::kInterrogate:
      break;
    case service_control::kShutdown:
      EndClientAndQuit(client_event::kShutdown, kShutdownWaitMs);
      break;
    default: {
      const std::string text =
          "Service Handler received unrecognized control code: " + hexText(control);
      events_.logWarning(category::kRun, 300, text.c_str());
      break;
    }
  }
}

}  // namespace keldran
