#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

using ClockContractTest = ContractTest;

TEST_F(ClockContractTest, SleepAdvancesTheTickCount) {
  // Wine's tick count lags its timers by up to a Windows tick (about 16 ms), so 50 ms of sleep
  // can read as a little less.
  constexpr std::uint32_t kTickSlack = 16;
  std::uint32_t before = p_.clock.TickCount();
  p_.clock.Sleep(50);
  EXPECT_GE(p_.clock.TickCount() - before, 50u - kTickSlack);
}

TEST_F(ClockContractTest, SecondsFollowTheTickCount) {
  std::int64_t before = p_.clock.Time64();
  p_.clock.Sleep(1000);
  std::int64_t elapsed = p_.clock.Time64() - before;
  EXPECT_GE(elapsed, 1);
  EXPECT_LE(elapsed, 2);
}

TEST_F(ClockContractTest, LocalTimeFieldsAreInRange) {
  LocalTime t = p_.clock.LocalNow();
  EXPECT_GE(t.year, 2000);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_LE(t.dayOfWeek, 6);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
  EXPECT_LE(t.second, 59);
  EXPECT_LE(t.milliseconds, 999);
}

TEST_F(ClockContractTest, PerformanceCounterNeverGoesBack) {
  std::int64_t first = p_.clock.PerformanceCounter();
  p_.clock.Sleep(1);
  EXPECT_GT(p_.clock.PerformanceCounter(), first);
}

}  // namespace
}  // namespace keldran::contract
