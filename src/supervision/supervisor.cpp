// The supervisor's state and the operations that the IService calls, the tray and the stop path
// use. The launch and the watchdog tick have files of their own.
#include "supervision/supervisor.h"

#include "log/error_text.h"

namespace keldran {

Supervisor::Supervisor(Platform& platform, ComponentLog& events, INotices& notices,
                       const Configuration& config, const RunFlags& flags,
                       std::function<void()> beforeLaunch)
    : platform_(platform),
      events_(events),
      notices_(notices),
      config_(config),
      flags_(flags),
      beforeLaunch_(std::move(beforeLaunch)),
      client_(platform),
      output_(platform, events),
      lock_(platform.sync.CreateCriticalSection(kSpinCount)) {}

Supervisor::RunSettings Supervisor::Settings() const {
  return settings_.value_or(RunSettings{config_.Show, config_.Debug, config_.Timeout});
}

Supervisor::RunSettings& Supervisor::MutableSettings() {
  if (!settings_) settings_ = Settings();
  return *settings_;
}

void Supervisor::PrepareRun() { client_.SetWorkingDir(config_.WorkingDir); }

void Supervisor::KillClient() {
  const bool ended = client_.HasEnded();
  if (!ended) client_.Terminate(kKilledExitCode);
  LogClientEnd(!ended);
}

std::string Supervisor::OutputTail() {
  const std::string tail = output_.Finish();
  return tail.empty() ? tail : ": last lines on standard error: " + tail;
}

void Supervisor::LogClientEnd(bool killed, const std::string& dump) {
  std::uint64_t runMs;
  const std::optional<std::uint32_t> code =
      killed ? std::optional<std::uint32_t>(kKilledExitCode) : client_.ExitCode();
  {
    LockGuard guard(*lock_);
    if (endLogged_) return;
    endLogged_ = true;
    runMs = platform_.clock.TickCount64() - startedAt_;
    if (code) lastExitCode_ = code;
    ++changes_;
  }
  const std::uint32_t id = client_.processId();
  const std::string ran = Format("%u.%u s", static_cast<std::uint32_t>(runMs / 1000),
                                 static_cast<std::uint32_t>(runMs % 1000 / 100));
  const std::string tail = OutputTail();
  if (killed) {
    events_.logDebug(Format("Client process %u killed with exit code %u after %s", id,
                            kKilledExitCode, ran.c_str()) +
                     (dump.empty() ? "" : "; its minidump: " + dump));
    return;
  }
  events_.logDebug(Format("Client process %u ended with exit code %s after %s", id,
                          code ? codeText(static_cast<std::int32_t>(*code)).c_str() : "(unknown)",
                          ran.c_str()) +
                   tail);
}

bool Supervisor::SetRunningTS(bool running, const WideString* progress, std::uint32_t timeout) {
  const std::uint64_t now = platform_.clock.TickCount64();
  bool resumed, wasPaused;
  std::string trace;
  {
    LockGuard guard(*lock_);
    lastHeartbeat_ = now;
    heartbeatTimeout_ = timeout != 0 ? timeout : static_cast<std::uint32_t>(Settings().timeout);
    progressText_ = progress && !progress->empty() ? *progress : WideString();
    progressStored_ = true;
    if (config_.Trace != 0) {
      trace = Format("SetRunningTS timeout=%u prog=%s", heartbeatTimeout_,
                     platform_.texts.WideToAnsi(progressText_).c_str());
    }
    resumed = timedOut_;
    wasPaused = paused_;
    timedOut_ = false;
    paused_ = !running;
  }
  if (!trace.empty()) events_.logDebug(trace);
  if (resumed) {
    events_.logInfo(category::kRun, event::kClientRecovered);
    notices_.PostNotice("Client resumed responding following timeout", notice_kind::kInformation);
  }
  if (wasPaused == running && !flags_.Quiet) {
    notices_.PostNotice(running ? "The server has resumed" : "The server has paused",
                        notice_kind::kInformation);
  }
  return wasPaused;
}

bool Supervisor::Connect(WindowHandle window) {
  const std::uint32_t message = platform_.windowing.RegisterWindowMessage(kClientEventMessageName);
  bool first;
  std::optional<std::uintptr_t> stop;
  std::int32_t debug;
  {
    LockGuard guard(*lock_);
    first = !connectedOnce_;
    connectedOnce_ = true;
    clientWindow_ = window;
    ++changes_;
    clientEventMessage_ = message;
    stop = stopCode_;
    debug = Settings().debug;
  }
  const std::string handle = codeText(static_cast<std::int32_t>(window));
  if (debug == 0) {
    events_.logDebug("Client connected hwndClient=" + handle);
  } else {
    events_.logInfo(category::kRun, event::kClientConnected, handle.c_str());
  }
  if (stop) {
    // A client that connects while the host stops would otherwise never hear of it and be
    // killed when the wait for it runs out.
    // A client without a window cannot be told; a null window would post to our own queue.
    if (window != 0) {
      if (*stop == client_event::kStop) events_.logDebug("Sending stop request to client");
      (void)platform_.windowing.PostMessage(window, message, *stop, 0);
    }
    return false;
  }
  return first;
}

bool Supervisor::Restart() {
  {
    LockGuard guard(*lock_);
    if (stopCode_) return true;
    ++clientRestarts_;
  }
  // The caller is usually the client being killed: the call may not return to it.
  client_.Terminate(kKilledExitCode);
  LogClientEnd(true);
  return LaunchClient();
}

void Supervisor::SetTimeoutFile(const WideString& file) {
  LockGuard guard(*lock_);
  timeoutFile_ = file;
}

void Supervisor::SetVisible(bool visible) {
  LockGuard guard(*lock_);
  MutableSettings().show = visible ? 1 : 0;
}

void Supervisor::SetCanDebug(bool canDebug) {
  LockGuard guard(*lock_);
  canDebug_ = canDebug;
}

void Supervisor::EnterDebugMode() {
  LockGuard guard(*lock_);
  RunSettings& settings = MutableSettings();
  settings.debug = 1;
  settings.timeout = 0;
}

void Supervisor::PostToClient(std::uintptr_t code) {
  WindowHandle window;
  std::uint32_t message;
  {
    LockGuard guard(*lock_);
    window = clientWindow_;
    message = clientEventMessage_;
  }
  if (window != 0) (void)platform_.windowing.PostMessage(window, message, code, 0);
}

bool Supervisor::ClientLaunched() const {
  LockGuard guard(*lock_);
  return clientLaunched_;
}

bool Supervisor::CanDebug() const {
  LockGuard guard(*lock_);
  return canDebug_;
}

bool Supervisor::Debugging() const {
  LockGuard guard(*lock_);
  return Settings().debug != 0;
}

bool Supervisor::Visible() const {
  LockGuard guard(*lock_);
  return Settings().show != 0;
}

bool Supervisor::BeginStop(std::uintptr_t code) {
  LockGuard guard(*lock_);
  if (stopCode_) return false;
  stopCode_ = code;
  ++changes_;
  return true;
}

bool Supervisor::NotifyStop() {
  WindowHandle window;
  std::uint32_t message;
  std::uintptr_t code;
  {
    LockGuard guard(*lock_);
    if (!stopCode_) return false;
    code = *stopCode_;
    window = clientWindow_;
    message = clientEventMessage_;
  }
  if (window == 0) return false;
  if (code == client_event::kStop) events_.logDebug("Sending stop request to client");
  (void)platform_.windowing.PostMessage(window, message, code, 0);
  return true;
}

void Supervisor::AskClientToEnd(const char* why) {
  const std::uint32_t pid = client_.processId();
  if (client_.HasEnded()) return;
  bool ctrlC = false;
  const Win32Error e = platform_.processes.SendConsoleBreak(pid, &ctrlC);
  if (e != 0) {
    events_.logDebug(Format("Stop: the client %s and has no console for Ctrl+Break", why) +
                     errorText(platform_.texts, e));
  } else {
    events_.logDebug(Format("Stop: the client %s; %s sent to its console", why,
                            ctrlC ? "Ctrl+C (Ctrl+Break cannot be sent here)" : "Ctrl+Break"));
  }
  const std::size_t closed = platform_.windowing.CloseProcessWindows(pid);
  events_.logDebug(closed == 0 ? std::string("Stop: the client has no window for WM_CLOSE")
                               : Format("Stop: WM_CLOSE posted to %u window%s of the client",
                                        static_cast<unsigned>(closed), closed == 1 ? "" : "s"));
}

bool Supervisor::Stopping() const {
  LockGuard guard(*lock_);
  return stopCode_.has_value();
}

SharedProcessHandle Supervisor::ClientHandle() const { return client_.Handle(); }

void Supervisor::EndRun() {
  LockGuard guard(*lock_);
  clientRunning_ = false;
}

Supervisor::Status Supervisor::GetStatus() const {
  const std::uint64_t now = platform_.clock.TickCount64();
  Status status;
  status.outputFile = config_.CaptureOutput != 0 ? output_.FilePath() : std::string();
  LockGuard guard(*lock_);
  status.lastDump = lastDump_;
  status.clientRunning = clientRunning_;
  status.processId = client_.processId();
  status.runMs = starts_ > 0 ? static_cast<std::uint32_t>(now - startedAt_) : 0;
  status.starts = starts_;
  if (lastHeartbeat_) status.heartbeatAgeMs = static_cast<std::uint32_t>(now - *lastHeartbeat_);
  const RunSettings settings = Settings();
  status.timeoutSeconds =
      settings.timeout == 0 || settings.debug != 0
          ? 0
          : (heartbeatTimeout_ != 0 ? heartbeatTimeout_
                                    : static_cast<std::uint32_t>(settings.timeout));
  if (progressStored_) status.progress = progressText_;
  status.paused = paused_;
  status.timedOut = timedOut_;
  status.stopping = stopCode_.has_value();
  status.connected = clientWindow_ != 0;
  if (restartAt_) {
    status.restartInMs = now < *restartAt_ ? static_cast<std::uint32_t>(*restartAt_ - now) : 0;
  }
  status.deathRestarts = deathRestarts_;
  status.timeoutRestarts = timeoutRestarts_;
  status.clientRestarts = clientRestarts_;
  status.pings = pings_;
  status.timeouts = timeouts_;
  status.lastExitCode = lastExitCode_;
  if (starts_ > 0 && !endLogged_) status.startTime = startedAtTime_;
  status.changes = changes_;
  return status;
}

bool Supervisor::ClientRunning() const {
  LockGuard guard(*lock_);
  return clientRunning_;
}

}  // namespace keldran
