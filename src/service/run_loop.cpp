// The run loop: publish the host in the running-object table, start the watchdog timer, the
// service window and the client, dispatch messages until told to quit, then take everything
// down in a fixed order.
#include "app/service_module.h"
#include "log/error_text.h"
#include "supervision/process.h"
#include "tray/service_win.h"

namespace keldran {
namespace {

constexpr std::uint32_t kWatchdogPeriodMs = 1000;

}  // namespace

void CServiceModule::Run() {
  IWindowing& windowing = platform_.windowing;
  RunThreadId = windowing.CurrentThreadId();
  (void)platform_.com.Initialize();
  // Owner and group of the caller's token and no DACL: every client may call in.
  (void)platform_.com.InitializeSecurity();

  if (!ApplyCtrlDocAttribute()) {
    RunFailed = true;
    return;
  }
  logInfo(category::kStartup, RunAsService ? 103 : 104);
  client_.SetWorkingDir(WorkingDir);
  if (!RegisterInRot()) {
    RunFailed = true;
    return;
  }
  // The timer is never killed: it dies with the thread.
  (void)windowing.SetTimer(kWatchdogPeriodMs, [this] { WatchdogTick(); });
  (void)window_.Create(DisplayName);
  LaunchClient(false);
  if (!ClientRunning) RunFailed = true;

  Message message;
  while (ClientRunning) {
    const int result = windowing.GetMessage(&message);
    if (result == 0) break;  // WM_QUIT
    if (result < 0) {
      // The queue itself is broken: waiting on would spin, so the host ends as if told to quit.
      logDebug("The message loop failed: " + errorText(platform_.texts, 0, false));
      RunFailed = true;
      break;
    }
    windowing.DispatchMessage(message);
  }

  client_.Terminate(kErrorTimeout);
  ShowExitNotice();
  ServiceObject.reset();
  if (RotCookie != 0) {
    (void)platform_.com.RevokeFromRunningObjectTable(RotCookie);
    RotCookie = 0;
  }
  window_.DestroyServiceWindow();
}

void CServiceModule::RequestQuit() {
  SetServiceState(service_state::kStopped);
  StateLock lock(stateLock_);
  ClientRunning = false;
  (void)platform_.windowing.PostThreadMessage(RunThreadId, window_message::kQuit, 0, 0);
}

bool CServiceModule::RegisterInRot() {
  HResult hr = kSOk;
  try {
    if (!objectFactory_) throwError(kEFail);
    ServiceObject = objectFactory_(*this);
    if (!ServiceObject) throwError(kEFail);
    hr = platform_.com.RegisterInRunningObjectTable(
        ServiceID, ServiceObject, rot_flags::kRegistrationKeepsAlive | rot_flags::kAllowAnyClient,
        &RotCookie);
    // Without the right to let any client in (a service under another identity), register
    // for this identity's clients only.
    if (hr == kCoEWrongServerIdentity) {
      hr = platform_.com.RegisterInRunningObjectTable(
          ServiceID, ServiceObject, rot_flags::kRegistrationKeepsAlive, &RotCookie);
    }
    throwIfFailed(hr);
    return true;
  } catch (const UtilError& error) {
    hr = error.code();
  } catch (...) {
    hr = kEFail;
  }
  const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
  logError(category::kStartup, 106, ": Cannot register service in ROT :", reason.c_str());
  return false;
}

bool CServiceModule::FindRunningHost(std::unique_ptr<IRunningHost>* host) {
  host->reset();
  const HResult hr = platform_.com.FindInRunningObjectTable(ServiceID, host);
  if (Failed(hr)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    logError(category::kStartup, 106,
             ": Unexpected error finding ServiceID in ROT :", reason.c_str());
    return false;
  }
  return true;
}

void CServiceModule::Lock() {
  StateLock lock(stateLock_);
  ++ModuleLocks;
}

void CServiceModule::Unlock() {
  bool last;
  {
    StateLock lock(stateLock_);
    last = --ModuleLocks == 0;
  }
  // In an application run the last COM lock ends the run.
  if (last && !RunAsService) RequestQuit();
}

}  // namespace keldran
