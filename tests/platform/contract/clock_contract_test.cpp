#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

using ClockContractTest = ContractTest;

TEST_F(ClockContractTest, SleepMovesTheTickCountTheSecondsAndThePerformanceCounter) {
  // Wine's tick count lags its timers by up to a Windows tick (about 16 ms), so a sleep can read
  // as a little less.
  constexpr std::uint32_t kTickSlack = 16;
  const std::uint32_t ticks = p_.clock.TickCount();
  const std::int64_t seconds = p_.clock.Time64();
  p_.clock.Sleep(1000);
  EXPECT_GE(p_.clock.TickCount() - ticks, 1000u - kTickSlack);
  const std::int64_t elapsed = p_.clock.Time64() - seconds;
  EXPECT_GE(elapsed, 1);
  EXPECT_LE(elapsed, 2);
  // The performance counter never goes back, and moves within a millisecond's sleep.
  const std::int64_t counter = p_.clock.PerformanceCounter();
  p_.clock.Sleep(1);
  EXPECT_GT(p_.clock.PerformanceCounter(), counter);
}

}  // namespace
}  // namespace keldran::contract
