#include "supervision/watchdog_decision.h"

#include <algorithm>

namespace keldran {

WatchdogDecision DecideWatchdogTick(const WatchdogView& view) {
  WatchdogDecision decision;
  decision.lastHeartbeat = view.lastHeartbeat;
  // A tick that comes late means that the run-loop thread was busy: the client's calls waited
  // for it just as the tick did. That time is the host's own and does not count as the
  // client's silence, unless the client's last heartbeat came after the previous tick.
  if (view.lastTick && view.lastHeartbeat) {
    const std::uint64_t gap = view.now - *view.lastTick;
    if (gap > 2 * kWatchdogTickMs && view.now - *view.lastHeartbeat >= gap)
      *decision.lastHeartbeat += gap - kWatchdogTickMs;
  }
  // A stopping client is the stop's business: its end is no death, its silence no time-out.
  if (!view.watching) return decision;
  // A restart that waits out its pause; then death comes first, whatever the time-out says.
  if (view.restartAt) {
    if (view.now >= *view.restartAt) decision.action = WatchdogAction::kRestart;
    return decision;
  }
  if (view.ended) {
    decision.action = WatchdogAction::kClientEnded;
    return decision;
  }
  if (view.timeoutsOff) return decision;
  // The first tick after a start starts the clock.
  if (!decision.lastHeartbeat) {
    decision.lastHeartbeat = view.now;
    return decision;
  }
  const std::uint64_t silent = view.now - *decision.lastHeartbeat;
  if (silent <= PingsAfterMs(view.timeoutSeconds)) return decision;
  if (silent <= TimesOutAfterMs(view.timeoutSeconds)) {
    // A ping is posted to the client's window: one that never connected has none.
    if (!view.debug && view.connected) decision.action = WatchdogAction::kPing;
    return decision;
  }
  decision.report = !view.timedOut;
  decision.kill = !view.debug && !view.shown;
  if (decision.report || decision.kill) decision.action = WatchdogAction::kTimedOut;
  return decision;
}

std::uint64_t NextRestartPauseMs(std::uint64_t previousMs, std::uint64_t ranMs,
                                 std::int32_t longestSeconds) {
  if (longestSeconds <= 0 || ranMs >= kStaysUpMs) return 0;
  const std::uint64_t longest = static_cast<std::uint64_t>(longestSeconds) * 1000;
  return previousMs == 0 ? std::min<std::uint64_t>(1000, longest)
                         : std::min(previousMs * 2, longest);
}

}  // namespace keldran
