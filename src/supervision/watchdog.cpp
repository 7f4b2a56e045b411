// The watchdog: once a second, restart a client that has died, ping one whose heartbeat is
// overdue, and report, kill and restart one that stays silent past its time-out. The decision is
// taken under the state lock; what it leads to (logging, posting, killing, starting) is done
// after the lock is let go.
#include "log/error_text.h"
#include "supervision/supervisor.h"

namespace keldran {

bool Supervisor::WatchdogTick() {
  std::uint32_t now = platform_.clock.TickCount();
  if (now == 0) now = 1;

  bool died = false, resumed = false, kill = false;
  WindowHandle pingWindow = 0;
  std::uint32_t pingMessage = 0;
  std::optional<std::optional<std::string>> report;  // the 107 event, with its string if any
  WideString file;
  {
    LockGuard guard(*lock_);
    // A stopping client is the stop's business: its end is no death, its silence no time-out.
    if (!clientRunning_ || stopCode_) return true;
    const RunSettings settings = Settings();
    // Death comes first, whatever Timeout, Debug or Paused say.
    if (client_.HasEnded()) {
      died = true;
    } else if (settings.timeout == 0 || paused_) {
      return true;
    } else if (now <= lastHeartbeat_) {
      // Right after a start (no heartbeat yet) and after the tick count wraps, the clock starts.
      lastHeartbeat_ = now;
      resumed = timedOut_;
      timedOut_ = false;
    } else {
      if (heartbeatTimeout_ == 0) heartbeatTimeout_ = static_cast<std::uint32_t>(settings.timeout);
      const std::uint64_t elapsed = now - lastHeartbeat_;
      const std::uint64_t timeout = heartbeatTimeout_;
      if (elapsed <= timeout * 500) return true;
      if (elapsed <= timeout * 1000) {
        // The second half of the time-out: a ping every tick, posted, never sent.
        if (settings.debug != 0 || clientWindow_ == 0) return true;
        pingWindow = clientWindow_;
        pingMessage = clientEventMessage_;
      } else {
        if (!timedOut_) {
          timedOut_ = true;
          report.emplace();
          if (progressStored_)
            *report = ": last progress was: " + platform_.texts.WideToAnsi(progressText_);
        }
        // A visible or debugged client is reported but left alone.
        kill = settings.debug == 0 && settings.show == 0;
        if (kill) file = std::exchange(timeoutFile_, WideString());
      }
    }
  }

  if (died) {
    events_.logError(category::kRun, 108);
    LogClientEnd(false);
    client_.Terminate(kKilledExitCode);
    return LaunchClient();
  }
  if (resumed) {
    events_.logInfo(category::kRun, 118);
    notices_.PostNotice("Client resumed responding following timeout", notice_kind::kInformation);
    return true;
  }
  if (pingWindow != 0) {
    events_.logDebug("Sending ping to client");
    (void)platform_.windowing.PostMessage(pingWindow, pingMessage, client_event::kPing, 0);
    return true;
  }
  if (report) events_.logError(category::kRun, 107, *report ? (*report)->c_str() : nullptr);
  if (!kill) return true;

  if (!file.empty()) {
    const std::string path = platform_.texts.WideToAnsi(file);
    events_.logError(category::kRun, 121, path.c_str());
    (void)platform_.files.DeleteFile(file);
  }
  client_.Terminate(kKilledExitCode);
  LogClientEnd(true);
  // Once more now that the client is gone and cannot hold the file open.
  if (!file.empty()) (void)platform_.files.DeleteFile(file);
  const bool started = LaunchClient();
  LockGuard guard(*lock_);
  lastHeartbeat_ = now;
  timedOut_ = false;
  return started;
}

}  // namespace keldran
