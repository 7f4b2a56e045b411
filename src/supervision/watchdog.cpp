// The watchdog: once a second, restart a client that has died, ping one whose heartbeat is
// overdue, and report, kill and restart one that stays silent past its time-out.
#include "app/service_module.h"
#include "log/error_text.h"
#include "supervision/process.h"
#include "tray/tray_icon.h"

namespace keldran {

void CServiceModule::WatchdogTick() {
  if (!ClientRunning) return;

  // Death comes first, whatever Timeout, Debug or Paused say.
  if (client_.HasEnded()) {
    logError(category::kRun, 108);
    client_.Terminate(kErrorTimeout);
    LaunchClient(true);
    return;
  }
  if (Timeout == 0 || Paused) return;

  std::uint32_t now = platform_.clock.TickCount();
  if (now == 0) now = 1;
  // Right after a start (no heartbeat yet) and after the tick count wraps, the clock starts now.
  if (now <= LastHeartbeat) {
    LastHeartbeat = now;
    if (TimedOut) {
      logInfo(category::kRun, 118);
      PostNotice("Client resumed responding following timeout", notice_kind::kInformation);
    }
    TimedOut = false;
    return;
  }
  {
    StateLock lock(stateLock_);
    if (HeartbeatTimeout == 0) HeartbeatTimeout = static_cast<std::uint32_t>(Timeout);
  }
  const std::uint64_t elapsed = now - LastHeartbeat;
  const std::uint64_t timeout = HeartbeatTimeout;
  if (elapsed <= timeout * 500) return;
  if (elapsed <= timeout * 1000) {
    // The second half of the time-out: a ping every tick, posted, never sent.
    if (Debug == 0 && ClientWindow != 0) {
      logDebug("Sending ping to client");
      (void)platform_.windowing.PostMessage(ClientWindow, ClientEventMessage, client_event::kPing,
                                            0);
    }
    return;
  }

  if (!TimedOut) {
    TimedOut = true;
    std::optional<std::string> progress;
    {
      StateLock lock(stateLock_);
      if (ProgressStored)
        progress = ": last progress was: " + platform_.texts.WideToAnsi(ProgressText);
    }
    logError(category::kRun, 107, progress ? progress->c_str() : nullptr);
  }
  // A visible or debugged client is reported but left alone.
  if (Debug != 0 || Show != 0) return;

  const WideString file = TimeoutFile;
  if (!file.empty()) {
    TimeoutFile.clear();
    const std::string path = platform_.texts.WideToAnsi(file);
    logError(category::kRun, 121, path.c_str());
    (void)platform_.files.DeleteFile(file);
  }
  client_.Terminate(kErrorTimeout);
  // Once more now that the client is gone and cannot hold the file open.
  if (!file.empty()) (void)platform_.files.DeleteFile(file);
  LaunchClient(true);
  LastHeartbeat = now;
  TimedOut = false;
}

}  // namespace keldran
