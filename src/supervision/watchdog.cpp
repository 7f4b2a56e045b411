// The watchdog: once a second, restart a client that has died, ping one whose heartbeat is
// overdue, and report, kill and restart one that stays silent past its time-out. The decision is
// taken under the state lock; what it leads to (logging, posting, killing, starting) is done
// after the lock is let go.
#include <algorithm>

#include "log/error_text.h"
#include "supervision/supervisor.h"

namespace keldran {

TickOutcome Supervisor::WatchdogTick() {
  const std::uint32_t now = Now();

  bool died = false, resumed = false, kill = false, restartDue = false;
  std::uint32_t ranMs = 0;
  WindowHandle pingWindow = 0;
  std::uint32_t pingMessage = 0;
  std::optional<std::optional<std::string>> report;  // the 107 event, with its string if any
  WideString file;
  {
    LockGuard guard(*lock_);
    // A tick that comes late means that the run-loop thread was busy: the client's calls waited
    // for it just as the tick did. That time is the host's own and does not count as the
    // client's silence, unless the client's last heartbeat came after the previous tick.
    if (lastTick_ && lastHeartbeat_ != kNoHeartbeat) {
      const std::uint32_t gap = now - *lastTick_;
      if (gap > 2 * kTickPeriodMs && now - lastHeartbeat_ >= gap)
        lastHeartbeat_ += gap - kTickPeriodMs;
    }
    lastTick_ = now;
    // A stopping client is the stop's business: its end is no death, its silence no time-out.
    if (!clientRunning_ || stopCode_) return TickOutcome::kGoOn;
    const RunSettings settings = Settings();
    // A restart that waits out its pause; then death comes first, whatever Timeout, Debug or
    // Paused say.
    if (restartAt_) {
      if (static_cast<std::int32_t>(now - *restartAt_) < 0) return TickOutcome::kGoOn;
      restartAt_.reset();
      restartDue = true;
    } else if (!endHandled_ && client_.HasEnded()) {
      // The run loop hears of a death at once; this is for the time it cannot (a modal loop).
      died = endHandled_ = true;
      ranMs = now - startedAt_;
    } else if (settings.timeout == 0 || paused_) {
      return TickOutcome::kGoOn;
    } else if (now <= lastHeartbeat_) {
      // Right after a start (no heartbeat yet) and after the tick count wraps, the clock starts.
      lastHeartbeat_ = now;
      resumed = timedOut_;
      timedOut_ = false;
    } else {
      if (heartbeatTimeout_ == 0) heartbeatTimeout_ = static_cast<std::uint32_t>(settings.timeout);
      const std::uint64_t elapsed = now - lastHeartbeat_;
      const std::uint64_t timeout = heartbeatTimeout_;
      if (elapsed <= timeout * 500) return TickOutcome::kGoOn;
      if (elapsed <= timeout * 1000) {
        // The second half of the time-out: a ping every tick, posted, never sent.
        if (settings.debug != 0 || clientWindow_ == 0) return TickOutcome::kGoOn;
        pingWindow = clientWindow_;
        pingMessage = clientEventMessage_;
        ++pings_;
      } else {
        if (!timedOut_) {
          timedOut_ = true;
          ++timeouts_;
          ++changes_;
          report.emplace();
          if (progressStored_)
            *report = ": last progress was: " + platform_.texts.WideToAnsi(progressText_);
        }
        // A visible or debugged client is reported but left alone.
        kill = settings.debug == 0 && settings.show == 0;
        if (kill) {
          file = std::exchange(timeoutFile_, WideString());
          ++timeoutRestarts_;
        }
      }
    }
  }

  if (restartDue) return Relaunch();
  if (died) return HandleClientEnd(now, ranMs);
  if (resumed) {
    events_.logInfo(category::kRun, 118);
    notices_.PostNotice("Client resumed responding following timeout", notice_kind::kInformation);
    return TickOutcome::kGoOn;
  }
  if (pingWindow != 0) {
    events_.logDebug("Sending ping to client");
    (void)platform_.windowing.PostMessage(pingWindow, pingMessage, client_event::kPing, 0);
    return TickOutcome::kGoOn;
  }
  if (report) events_.logError(category::kRun, 107, *report ? (*report)->c_str() : nullptr);
  if (!kill) return TickOutcome::kGoOn;

  if (!file.empty()) {
    const std::string path = platform_.texts.WideToAnsi(file);
    events_.logError(category::kRun, 121, path.c_str());
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

TickOutcome Supervisor::HandleClientEnd(std::uint32_t now, std::uint32_t ranMs) {
  // A client that says with its exit code that it is done ends the run; any other end is a
  // death.
  const std::optional<std::uint32_t> code = client_.ExitCode();
  if (code && EndsTheRun(*code)) {
    LogClientEnd(false);
    const std::string text = Format(
        "The client ended with exit code %u, which StopExitCodes names: the host stops", *code);
    events_.logInfo(category::kShutdown, 1001, text.c_str());
    return TickOutcome::kEndRun;
  }
  // The event names the reason when the client printed one.
  const std::string why = OutputTail();
  events_.logError(category::kRun, 108, why.empty() ? nullptr : why.c_str());
  {
    LockGuard guard(*lock_);
    ++deathRestarts_;
  }
  LogClientEnd(false);
  client_.Terminate(kKilledExitCode);
  if (DelayRestart(now, ranMs)) return TickOutcome::kGoOn;
  // At most one start a second, as when deaths were noticed by the tick alone: a client that
  // ends at once does not get started again and again.
  if (ranMs < kTickPeriodMs) {
    LockGuard guard(*lock_);
    restartAt_ = now + (kTickPeriodMs - ranMs);
    return TickOutcome::kGoOn;
  }
  return Relaunch();
}

TickOutcome Supervisor::OnClientEnded() {
  const std::uint32_t now = Now();
  std::uint32_t ranMs;
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
        static_cast<std::int32_t>(Now() - *restartAt_) < 0) {
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
  const auto left = static_cast<std::int32_t>(*restartAt_ - Now());
  return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

std::uint32_t Supervisor::Now() const {
  const std::uint32_t now = platform_.clock.TickCount();
  return now == 0 ? 1 : now;
}

bool Supervisor::EndsTheRun(std::uint32_t exitCode) const {
  const std::vector<std::uint32_t>& codes = config_.StopExitCodes;
  return std::find(codes.begin(), codes.end(), exitCode) != codes.end();
}

bool Supervisor::DelayRestart(std::uint32_t now, std::uint32_t ranMs) {
  const std::int32_t longest = config_.RestartBackoff;
  std::uint32_t grown = 0;
  {
    LockGuard guard(*lock_);
    if (longest <= 0 || ranMs >= kStaysUpMs) {
      // Off, or the client stayed up long enough: the next death starts the count again.
      backoffSeconds_ = 0;
      return false;
    }
    const auto cap = static_cast<std::uint32_t>(longest);
    const std::uint32_t next =
        backoffSeconds_ == 0 ? 1 : std::min<std::uint32_t>(backoffSeconds_ * 2, cap);
    if (next > backoffSeconds_) grown = next;
    backoffSeconds_ = next;
    restartAt_ = now + next * 1000;
  }
  if (grown != 0) {
    events_.logDebug(
        Format("The client keeps ending soon after its start: it is started again "
               "after %u s from now on (at most %d s)",
               grown, longest));
  }
  return true;
}

}  // namespace keldran
