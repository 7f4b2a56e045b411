#pragma once
// What the watchdog does at a tick, and how long a client that keeps ending waits for its
// restart, as plain functions of what the supervisor sees. The supervisor takes the view under
// its lock and carries the decision out after letting the lock go.

#include <cstdint>
#include <optional>

namespace keldran {

// The watchdog ticks once a second.
inline constexpr std::uint64_t kWatchdogTickMs = 1000;
// A client that ran this long has stayed up: its next end restarts it at once, and a later
// run of quick ends starts its pauses from the shortest again.
inline constexpr std::uint64_t kStaysUpMs = 60000;

// The first half of a time-out is quiet; in the second half the client is pinged every tick;
// past the whole of it the client has timed out.
constexpr std::uint64_t PingsAfterMs(std::uint32_t timeoutSeconds) {
  return timeoutSeconds * std::uint64_t{500};
}
constexpr std::uint64_t TimesOutAfterMs(std::uint32_t timeoutSeconds) {
  return timeoutSeconds * std::uint64_t{1000};
}

// What a tick sees. Times are milliseconds of the 64-bit tick count, which does not wrap.
struct WatchdogView {
  std::uint64_t now = 0;
  std::optional<std::uint64_t> lastTick;
  // The client's last heartbeat, or the tick that started its clock; none right after a start.
  std::optional<std::uint64_t> lastHeartbeat;
  std::optional<std::uint64_t> restartAt;  // a restart waits until then
  bool watching = false;                   // a client should run and no stop is under way
  bool ended = false;                      // its process ended and nobody dealt with it yet
  bool timeoutsOff = false;                // Timeout=0 (also in debug mode) or a paused client
  std::uint32_t timeoutSeconds = 0;        // the client's own, or the configured one
  bool timedOut = false;                   // reported and not heard of since
  bool debug = false;                      // a debugged client is reported, never pinged or killed
  bool shown = false;                      // a shown one is pinged and reported, never killed
  bool connected = false;                  // the client has told its window
};

enum class WatchdogAction {
  kNothing,
  kRestart,      // a restart's pause is over
  kClientEnded,  // a clean end or a death: the exit code says which
  kPing,
  kTimedOut,  // report (once per silence) and, unless the client is left alive, kill and restart
};

struct WatchdogDecision {
  WatchdogAction action = WatchdogAction::kNothing;
  std::optional<std::uint64_t> lastHeartbeat;  // the view's, moved past time the host lost
  bool report = false;                         // kTimedOut: the first tick past the time-out
  bool kill = false;                           // kTimedOut: nobody watches the client
};

WatchdogDecision DecideWatchdogTick(const WatchdogView& view);

// The pause before restarting a client that ended after ranMs, given the previous pause, the
// longest allowed (RestartBackoff; 0 or less: off) and the shortest: 0 restarts it at once.
std::uint64_t NextRestartPauseMs(std::uint64_t previousMs, std::uint64_t ranMs,
                                 std::int32_t longestSeconds);

}  // namespace keldran
