#pragma once
// Virtual time: Sleep and timed waits move the clock, running the actions scheduled on the way
// (timer ticks, child exits, test events) in time order.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/clock.h"

namespace keldran::fake {

class FakeClock final : public IClock {
 public:
  using ActionId = std::uint64_t;

  FakeClock();  // 2024-03-01 09:00:00.000 local time, tick count 1 000 000

  std::uint64_t Elapsed() const;  // milliseconds since construction
  void SetLocalTime(const LocalTime& time);

  // Moves time forward, running every action that falls due on the way.
  void Advance(std::uint64_t milliseconds);
  ActionId After(std::uint64_t delayMilliseconds, std::function<void()> action);
  void Cancel(ActionId id);
  std::optional<std::uint64_t> NextActionTime() const;
  // Moves to the next scheduled action and runs it; false when nothing is scheduled.
  bool RunNextAction();

  std::uint32_t TickCount() override;
  std::uint64_t TickCount64() override;
  LocalTime LocalNow() override;
  std::int64_t Time64() override;
  void Sleep(std::uint32_t milliseconds) override { Advance(milliseconds); }
  std::int64_t PerformanceCounter() override;

 private:
  using Key = std::pair<std::uint64_t, ActionId>;  // due time, then scheduling order
  bool RunOneDue(std::uint64_t until);

  mutable std::recursive_mutex mutex_;
  std::uint64_t elapsed_ = 0;
  std::int64_t epochMilliseconds_ = 0;  // local wall-clock time at elapsed 0
  std::uint32_t tickBase_ = 1000000;
  ActionId nextId_ = 1;
  std::map<Key, std::function<void()>> actions_;
  std::int64_t readCount_ = 0;
};

}  // namespace keldran::fake
