// The host as the Service Control Manager sees it: the start operation, the service main
// function, status reports and the control handler.
#include "app/service_module.h"
#include "log/error_text.h"
#include "supervision/process.h"

namespace keldran {
namespace {

constexpr std::uint32_t kStopWaitMs = 30000;
constexpr std::uint32_t kShutdownWaitMs = 20000;

}  // namespace

void CServiceModule::StartRun() {
  std::unique_ptr<IRunningHost> host;
  if (!FindRunningHost(&host)) {
    RunFailed = true;
    return;
  }
  if (host) {
    if (StopRequested) {
      (void)host->RequestStop();
    } else {
      logError(category::kStartup, 102, "\n\r\n\rService is already running");
      RunFailed = true;
    }
    return;
  }
  // A stop request with no host running has nothing to do.
  if (StopRequested) return;
  if (RunAsService) {
    const Win32Error error =
        platform_.services.RunDispatcher(ServiceName, [this] { ServiceMain(); });
    if (error == 0) return;
    // Not started by the Service Control Manager (1063, from a console for example): run as an
    // application without a word, so the events say "(as application)".
    RunAsService = false;
  }
  Run();
}

void CServiceModule::ServiceMain() {
  Status.currentState = service_state::kStartPending;
  if (platform_.services.RegisterControlHandler(
          ServiceName, [this](std::uint32_t control) { Handler(control); }, &StatusHandle) != 0) {
    logError(category::kStartup, 101);
    return;
  }
  SetServiceState(service_state::kStartPending);
  Status.win32ExitCode = 0;
  Status.checkPoint = 0;
  Status.waitHint = 0;
  Run();
  SetServiceState(service_state::kStopped);
}

void CServiceModule::SetServiceState(std::uint32_t state) {
  if (!RunAsService) return;
  Status.currentState = state;
  (void)platform_.services.SetStatus(StatusHandle, Status);
}

// Stop and shutdown alike: report the stop as pending, tell a connected client (the code is
// the control itself), give it time to end, and end the run.
void CServiceModule::EndClientAndQuit(std::uintptr_t code, std::uint32_t waitMs) {
  SetServiceState(service_state::kStopPending);
  if (ClientWindow != 0) {
    if (code == client_event::kStop) logDebug("Sending stop request to client");
    (void)platform_.windowing.PostMessage(ClientWindow, ClientEventMessage, code, 0);
  }
  (void)client_.WaitForEnd(waitMs);
  RequestQuit();
}

void CServiceModule::Handler(std::uint32_t control) {
  switch (control) {
    case service_control::kStop:
      EndClientAndQuit(client_event::kStop, kStopWaitMs);
      if (StopEventPending) {
        StopEventPending = false;
        logInfo(category::kShutdown, RunAsService ? 400 : 401);
      }
      break;
    case service_control::kInterrogate:
      break;
    case service_control::kShutdown:
      EndClientAndQuit(client_event::kShutdown, kShutdownWaitMs);
      break;
    default: {
      const std::string text =
          "Service Handler received unrecognized control code: " + hexText(control);
      logWarning(category::kRun, 300, text.c_str());
      break;
    }
  }
}

}  // namespace keldran
