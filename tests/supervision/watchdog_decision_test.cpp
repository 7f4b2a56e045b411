// What a watchdog tick decides, and the pause before a quick restart, over plain values.
#include "supervision/watchdog_decision.h"

#include <gtest/gtest.h>

namespace keldran {
namespace {

using A = WatchdogAction;

// A connected client with a 60-s time-out whose clock started at 100 s, ticked a second ago.
WatchdogView At(std::uint64_t seconds) {
  WatchdogView v;
  v.now = seconds * 1000;
  v.lastTick = v.now - 1000;
  v.lastHeartbeat = 100000;
  v.watching = true;
  v.timeoutSeconds = 60;
  v.connected = true;
  return v;
}

TEST(WatchdogDecisionTest, EachViewLeadsToItsStep) {
  struct Case {
    const char* name;
    WatchdogView view;
    A action;
    bool report, kill;
  };
  auto with = [](WatchdogView v, auto change) {
    change(v);
    return v;
  };
  const Case cases[] = {
      {"first half: quiet", At(130), A::kNothing, false, false},
      {"second half: a ping", At(131), A::kPing, false, false},
      {"the last second of the time-out still pings", At(160), A::kPing, false, false},
      {"past the time-out: report and kill", At(161), A::kTimedOut, true, true},
      {"reported already: kill only", with(At(161), [](auto& v) { v.timedOut = true; }),
       A::kTimedOut, false, true},
      {"a never connected client is not pinged",
       with(At(131), [](auto& v) { v.connected = false; }), A::kNothing, false, false},
      {"a debugged client is neither pinged", with(At(131), [](auto& v) { v.debug = true; }),
       A::kNothing, false, false},
      {"... nor killed", with(At(161), [](auto& v) { v.debug = true; }), A::kTimedOut, true, false},
      {"a shown client is pinged", with(At(131), [](auto& v) { v.shown = true; }), A::kPing, false,
       false},
      {"... reported once and not killed",
       with(At(161), [](auto& v) { v.shown = v.timedOut = true; }), A::kNothing, false, false},
      {"time-outs off", with(At(500), [](auto& v) { v.timeoutsOff = true; }), A::kNothing, false,
       false},
      {"a stopping client is left to the stop",
       with(At(500), [](auto& v) { v.watching = false, v.ended = true; }), A::kNothing, false,
       false},
      {"an end comes before any time-out",
       with(At(500), [](auto& v) { v.ended = v.timeoutsOff = v.debug = true; }), A::kClientEnded,
       false, false},
      {"a pause before the restart", with(At(500), [](auto& v) { v.restartAt = 500001; }),
       A::kNothing, false, false},
      {"the pause is over", with(At(500), [](auto& v) { v.restartAt = 500000; }), A::kRestart,
       false, false},
      {"a client's own time-out counts", with(At(131), [](auto& v) { v.timeoutSeconds = 300; }),
       A::kNothing, false, false},
      // The 32-bit tick count wraps between the heartbeat and the tick.
      {"no wrap after 49.7 days",
       with(At(4294967 + 30), [](auto& v) { v.lastHeartbeat = 4294967000; }), A::kNothing, false,
       false},
  };
  for (const Case& c : cases) {
    const WatchdogDecision d = DecideWatchdogTick(c.view);
    EXPECT_EQ(d.action, c.action) << c.name;
    EXPECT_EQ(d.report, c.report) << c.name;
    EXPECT_EQ(d.kill, c.kill) << c.name;
  }
}

TEST(WatchdogDecisionTest, TheClockStartsAtTheFirstTickAndSkipsTimeTheHostLost) {
  WatchdogView fresh = At(200);
  fresh.lastHeartbeat.reset();
  EXPECT_EQ(DecideWatchdogTick(fresh).lastHeartbeat, 200000u);
  EXPECT_EQ(DecideWatchdogTick(fresh).action, A::kNothing);
  // The run-loop thread was stuck for 12 s: 11 s of them are the host's, not the client's.
  WatchdogView late = At(200);
  late.lastTick = 188000;
  EXPECT_EQ(DecideWatchdogTick(late).lastHeartbeat, 111000u);
  // ... unless the client spoke after the last tick: then its silence is all its own.
  late.lastHeartbeat = 190000;
  EXPECT_EQ(DecideWatchdogTick(late).lastHeartbeat, 190000u);
  // A late tick of two periods or less is no loss.
  late.lastHeartbeat = 100000;
  late.lastTick = 198000;
  EXPECT_EQ(DecideWatchdogTick(late).lastHeartbeat, 100000u);
}

TEST(WatchdogDecisionTest, QuickEndsDoubleThePauseUpToTheLongestAndAStayStartsOver) {
  const struct {
    std::uint64_t previousMs, ranMs;
    std::int32_t longest;
    std::uint64_t pauseMs;
  } cases[] = {
      {0, 200, 8, 1000},      {1000, 200, 8, 2000}, {4000, 200, 8, 8000},
      {8000, 200, 8, 8000},   {2000, 200, 3, 3000}, {0, 200, 0, 0},
      {8000, 59999, 8, 8000}, {8000, 60000, 8, 0},  {8000, 200, -1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextRestartPauseMs(c.previousMs, c.ranMs, c.longest), c.pauseMs)
        << c.previousMs << " ms before, ran " << c.ranMs << " ms, at most " << c.longest << " s";
  }
}

}  // namespace
}  // namespace keldran
