// The watchdog: once a second, restart a client that has died, ping one whose heartbeat is
// overdue, and report, kill and restart one that stays silent past its time-out. The decision is
// taken under the state lock; what it leads to (logging, posting, killing, starting) is done
// after the lock is let go.
#include <algorithm>

#include "log/error_text.h"
#include "supervision/supervisor.h"

namespace keldran {

TickOutcome Supervisor::WatchdogTick() {
  const std::uint64_t now = platform_.clock.TickCount64();
  WatchdogDecision decision;
  std::uint64_t ranMs = 0;
  {
    LockGuard guard(*lock_);
    decision = DecideWatchdogTick(ViewForTick(now));
    lastTick_ = now;
    lastHeartbeat_ = decision.lastHeartbeat;
    switch (decision.action) {
      case WatchdogAction::kRestart:
        restartAt_.reset();
        break;
      case WatchdogAction::kClientEnded:
        endHandled_ = true;
        ranMs = now - startedAt_;
        break;
      case WatchdogAction::kPing:
        ++pings_;
        break;
      case WatchdogAction::kTimedOut:
        if (decision.report) {
          timedOut_ = true;
          ++timeouts_;
          ++changes_;
        }
        if (decision.kill) ++timeoutRestarts_;
        break;
      case WatchdogAction::kNothing:
        break;
    }
  }
  return Act(decision, now, ranMs);
}

WatchdogView Supervisor::ViewForTick(std::uint64_t now) {
  const RunSettings settings = Settings();
  WatchdogView view;
  view.now = now;
  view.lastTick = lastTick_;
  view.lastHeartbeat = lastHeartbeat_;
  view.restartAt = restartAt_;
  view.watching = clientRunning_ && !stopCode_;
  // The run loop hears of a death at once; the tick is for the time it cannot (a modal loop).
  view.ended = view.watching && !restartAt_ && !endHandled_ && client_.HasEnded();
  view.timeoutsOff = settings.timeout == 0 || paused_;
  view.timeoutSeconds =
      heartbeatTimeout_ != 0 ? heartbeatTimeout_ : static_cast<std::uint32_t>(settings.timeout);
  view.timedOut = timedOut_;
  view.debug = settings.debug != 0;
  view.shown = settings.show != 0;
  view.connected = clientWindow_ != 0;
  return view;
}

TickOutcome Supervisor::Act(const WatchdogDecision& decision, std::uint64_t now,
                            std::uint64_t ranMs) {
  switch (decision.action) {
    case WatchdogAction::kRestart:
      return Relaunch();
    case WatchdogAction::kClientEnded:
      return HandleClientEnd(now, ranMs);
    case WatchdogAction::kPing:
      events_.logDebug("Sending ping to client");
      PostToClient(client_event::kPing);
      return TickOutcome::kGoOn;
    case WatchdogAction::kTimedOut: {
      if (decision.report) {
        // The event quotes the last progress text once a heartbeat has stored one.
        std::optional<std::string> lastProgress;
        {
          LockGuard guard(*lock_);
          if (progressStored_)
            lastProgress = ": last progress was: " + platform_.texts.WideToAnsi(progressText_);
        }
        events_.logError(category::kRun, event::kClientTimedOut,
                         lastProgress ? lastProgress->c_str() : nullptr);
      }
      return decision.kill ? KillForSilence(now) : TickOutcome::kGoOn;
    }
    case WatchdogAction::kNothing:
      break;
  }
  return TickOutcome::kGoOn;
}

TickOutcome Supervisor::KillForSilence(std::uint64_t now) {
  WideString file;
  {
    LockGuard guard(*lock_);
    file = std::exchange(timeoutFile_, WideString());
  }
  if (!file.empty()) {
    const std::string path = platform_.texts.WideToAnsi(file);
    events_.logError(category::kRun, event::kTimeoutFile, path.c_str());
    (void)platform_.files.DeleteFile(file);
  }
  const std::string dump = DumpBeforeKill();
  client_.Terminate(kKilledExitCode);
  LogClientEnd(true, dump);
  // Once more now that the client is gone and cannot hold the file open.
  if (!file.empty()) (void)platform_.files.DeleteFile(file);
  const TickOutcome outcome = Relaunch();
  LockGuard guard(*lock_);
  lastHeartbeat_ = now;
  timedOut_ = false;
  return outcome;
}

TickOutcome Supervisor::Relaunch() {
  return LaunchClient() ? TickOutcome::kGoOn : TickOutcome::kFailRun;
}

TickOutcome Supervisor::HandleClientEnd(std::uint64_t now, std::uint64_t ranMs) {
  // A client that says with its exit code that it is done ends the run; any other end is a
  // death.
  const std::optional<std::uint32_t> code = client_.ExitCode();
  if (code && EndsTheRun(*code)) {
    LogClientEnd(false);
    const std::string text = Format(
        "The client ended with exit code %u, which StopExitCodes names: the host stops", *code);
    events_.logInfo(category::kShutdown, event::kText, text.c_str());
    return TickOutcome::kEndRun;
  }
  // The event names the reason when the client printed one.
  const std::string why = OutputTail();
  events_.logError(category::kRun, event::kClientStopped, why.empty() ? nullptr : why.c_str());
  {
    LockGuard guard(*lock_);
    ++deathRestarts_;
  }
  LogClientEnd(false);
  client_.Terminate(kKilledExitCode);
  if (DelayRestart(now, ranMs)) return TickOutcome::kGoOn;
  // At most one start a second, as when deaths were noticed by the tick alone: a client that
  // ends at once does not get started again and again.
  if (ranMs < kWatchdogTickMs) {
    LockGuard guard(*lock_);
    restartAt_ = now + (kWatchdogTickMs - ranMs);
    return TickOutcome::kGoOn;
  }
  return Relaunch();
}

TickOutcome Supervisor::OnClientEnded() {
  const std::uint64_t now = platform_.clock.TickCount64();
  std::uint64_t ranMs;
  {
    LockGuard guard(*lock_);
    if (!clientRunning_ || stopCode_ || endHandled_ || restartAt_ || !client_.HasEnded())
      return TickOutcome::kGoOn;
    endHandled_ = true;
    ranMs = now - startedAt_;
  }
  return HandleClientEnd(now, ranMs);
}

TickOutcome Supervisor::RestartIfDue() {
  {
    LockGuard guard(*lock_);
    if (!clientRunning_ || stopCode_ || !restartAt_ ||
        platform_.clock.TickCount64() < *restartAt_) {
      return TickOutcome::kGoOn;
    }
    restartAt_.reset();
  }
  return Relaunch();
}

SharedProcessHandle Supervisor::WatchedClient() const {
  LockGuard guard(*lock_);
  if (!clientRunning_ || stopCode_ || endHandled_) return nullptr;
  return client_.Handle();
}

std::uint32_t Supervisor::MillisecondsToRestart() const {
  LockGuard guard(*lock_);
  if (!restartAt_) return kInfinite;
  const std::uint64_t now = platform_.clock.TickCount64();
  return now < *restartAt_ ? static_cast<std::uint32_t>(*restartAt_ - now) : 0;
}

bool Supervisor::EndsTheRun(std::uint32_t exitCode) const {
  const std::vector<std::uint32_t>& codes = config_.StopExitCodes;
  return std::find(codes.begin(), codes.end(), exitCode) != codes.end();
}

bool Supervisor::DelayRestart(std::uint64_t now, std::uint64_t ranMs) {
  const std::int32_t longest = config_.RestartBackoff;
  std::uint64_t grown = 0;
  {
    LockGuard guard(*lock_);
    const std::uint64_t pause = NextRestartPauseMs(backoffMs_, ranMs, longest);
    if (pause > backoffMs_) grown = pause;
    backoffMs_ = pause;
    if (pause == 0) return false;
    restartAt_ = now + pause;
  }
  if (grown != 0) {
    events_.logDebug(
        Format("The client keeps ending soon after its start: it is started again "
               "after %u s from now on (at most %d s)",
               static_cast<std::uint32_t>(grown / 1000), longest));
  }
  return true;
}

}  // namespace keldran
