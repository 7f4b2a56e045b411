#include "platform/fake/fake_clock.h"

#include <chrono>

namespace keldran::fake {
namespace {

using Days = std::chrono::sys_days;
constexpr std::int64_t kMsPerDay = 86400000;

std::int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  return Days(std::chrono::year(y) / m / d).time_since_epoch().count();
}

}  // namespace

FakeClock::FakeClock() { epochMilliseconds_ = DaysFromCivil(2024, 3, 1) * kMsPerDay + 9 * 3600000; }

std::uint64_t FakeClock::Elapsed() const {
  std::lock_guard lock(mutex_);
  return elapsed_;
}

void FakeClock::SetLocalTime(const LocalTime& t) {
  std::lock_guard lock(mutex_);
  const std::int64_t ms = DaysFromCivil(t.year, t.month, t.day) * kMsPerDay +
                          ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.milliseconds;
  epochMilliseconds_ = ms - static_cast<std::int64_t>(elapsed_);
}

bool FakeClock::RunOneDue(std::uint64_t until) {
  std::function<void()> action;
  {
    std::lock_guard lock(mutex_);
    if (actions_.empty() || actions_.begin()->first.first > until) return false;
    auto it = actions_.begin();
    if (it->first.first > elapsed_) elapsed_ = it->first.first;
    action = std::move(it->second);
    actions_.erase(it);
  }
  action();
  return true;
}

void FakeClock::Advance(std::uint64_t milliseconds) {
  std::uint64_t target;
  {
    std::lock_guard lock(mutex_);
    target = elapsed_ + milliseconds;
  }
  while (RunOneDue(target)) {
  }
  std::lock_guard lock(mutex_);
  if (elapsed_ < target) elapsed_ = target;
}

FakeClock::ActionId FakeClock::After(std::uint64_t delay, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  const ActionId id = nextId_++;
  actions_.emplace(Key{elapsed_ + delay, id}, std::move(action));
  return id;
}

void FakeClock::Cancel(ActionId id) {
  std::lock_guard lock(mutex_);
  std::erase_if(actions_, [id](const auto& action) { return action.first.second == id; });
}

std::optional<std::uint64_t> FakeClock::NextActionTime() const {
  std::lock_guard lock(mutex_);
  if (actions_.empty()) return std::nullopt;
  return actions_.begin()->first.first;
}

bool FakeClock::RunNextAction() {
  auto when = NextActionTime();
  return when && RunOneDue(*when);
}

std::uint32_t FakeClock::TickCount() {
  std::lock_guard lock(mutex_);
  return tickBase_ + static_cast<std::uint32_t>(elapsed_);
}

std::uint64_t FakeClock::TickCount64() {
  std::lock_guard lock(mutex_);
  return elapsed_;
}

LocalTime FakeClock::LocalNow() {
  std::lock_guard lock(mutex_);
  const std::int64_t ms = epochMilliseconds_ + static_cast<std::int64_t>(elapsed_);
  const std::int64_t days = ms / kMsPerDay, inDay = ms % kMsPerDay;  // no time before 1970
  const Days date{std::chrono::days(days)};
  const std::chrono::year_month_day ymd(date);
  LocalTime t;
  t.year = static_cast<std::uint16_t>(static_cast<int>(ymd.year()));
  t.month = static_cast<std::uint16_t>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<std::uint16_t>(static_cast<unsigned>(ymd.day()));
  t.dayOfWeek = static_cast<std::uint16_t>(std::chrono::weekday(date).c_encoding());
  t.hour = static_cast<std::uint16_t>(inDay / 3600000);
  t.minute = static_cast<std::uint16_t>(inDay / 60000 % 60);
  t.second = static_cast<std::uint16_t>(inDay / 1000 % 60);
  t.milliseconds = static_cast<std::uint16_t>(inDay % 1000);
  return t;
}

std::int64_t FakeClock::Time64() {
  std::lock_guard lock(mutex_);
  return (epochMilliseconds_ + static_cast<std::int64_t>(elapsed_)) / 1000;
}

std::int64_t FakeClock::PerformanceCounter() {
  std::lock_guard lock(mutex_);
  // A 10 MHz counter, plus a per-read step so that successive reads differ in their low byte.
  static constexpr std::int64_t kPerMs = 10000;
  return static_cast<std::int64_t>(elapsed_) * kPerMs + (readCount_++ * 37);
}

}  // namespace keldran::fake
