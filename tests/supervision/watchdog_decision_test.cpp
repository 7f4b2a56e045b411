// What a watchdog tick decides, and the pause before a quick restart, over plain values.
#include "supervision/watchdog_decision.h"

#include <gtest/gtest.h>

#include <string_view>

namespace keldran {
namespace {

using A = WatchdogAction;

// A connected client with a 60-s time-out whose clock started at 100 s, ticked a second ago;
// flags: c never connected, d debugged, s shown, t reported, o time-outs off, e ended, w stopping.
WatchdogView At(std::uint64_t seconds, std::string_view flags = "") {
  auto has = [&](char f) { return flags.find(f) != std::string_view::npos; };
  WatchdogView v;
  v.now = seconds * 1000;
  v.lastTick = v.now - 1000;
  v.lastHeartbeat = 100000;
  v.watching = !has('w');
  v.timeoutSeconds = 60;
  v.connected = !has('c');
  v.debug = has('d');
  v.shown = has('s');
  v.timedOut = has('t');
  v.timeoutsOff = has('o');
  v.ended = has('e');
  return v;
}

TEST(WatchdogDecisionTest, EachViewLeadsToItsStep) {
  auto with = [](WatchdogView v, auto change) {
    change(v);
    return v;
  };
  const struct {
    const char* name;
    WatchdogView view;
    A action;
    bool report, kill;
  } cases[] = {
      {"first half: quiet", At(130), A::kNothing, false, false},
      {"second half: a ping", At(131), A::kPing, false, false},
      {"the last second of the time-out still pings", At(160), A::kPing, false, false},
      {"past the time-out: report and kill", At(161), A::kTimedOut, true, true},
      {"reported already: kill only", At(161, "t"), A::kTimedOut, false, true},
      {"a never connected client is not pinged", At(131, "c"), A::kNothing, false, false},
      {"a debugged client is neither pinged", At(131, "d"), A::kNothing, false, false},
      {"... nor killed", At(161, "d"), A::kTimedOut, true, false},
      {"a shown client is pinged", At(131, "s"), A::kPing, false, false},
      {"... reported once and not killed", At(161, "st"), A::kNothing, false, false},
      {"time-outs off", At(500, "o"), A::kNothing, false, false},
      {"a stopping client is left to the stop", At(500, "we"), A::kNothing, false, false},
      {"an end comes before any time-out", At(500, "edo"), A::kClientEnded, false, false},
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
  for (const auto& c : cases) {
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
