// The heartbeat update shared by Running, Progress and Pause; the watchdog reads what it writes.
#include "app/service_module.h"
#include "log/error_text.h"
#include "tray/tray_icon.h"

namespace keldran {

void CServiceModule::SetRunningTS(bool running, const WideString* progress, std::uint32_t timeout) {
  StateLock lock(stateLock_);
  std::uint32_t now = platform_.clock.TickCount();
  LastHeartbeat = now == 0 ? 1 : now;
  HeartbeatTimeout = timeout != 0 ? timeout : static_cast<std::uint32_t>(Timeout);
  ProgressText = progress && !progress->empty() ? *progress : WideString();
  ProgressStored = true;
  if (Trace != 0) {
    logDebug(Format("SetRunningTS timeout=%u prog=%s", HeartbeatTimeout,
                    platform_.texts.WideToAnsi(ProgressText).c_str()));
  }
  if (TimedOut) {
    logInfo(category::kRun, 118);
    PostNotice("Client resumed responding following timeout", notice_kind::kInformation);
  }
  const bool wasPaused = Paused;
  TimedOut = false;
  Paused = !running;
  if (Paused != wasPaused && !Quiet) {
    PostNotice(Paused ? "The server has paused" : "The server has resumed",
               notice_kind::kInformation);
  }
}

}  // namespace keldran
