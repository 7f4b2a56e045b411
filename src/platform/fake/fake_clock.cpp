#include "platform/fake/fake_clock.h"

namespace keldran::fake {
namespace {

// Days since 1970-01-01 for a civil date, and back (Howard Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

constexpr std::int64_t kMsPerDay = 86400000;

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

void FakeClock::SetTickCount(std::uint32_t ticks) {
  std::lock_guard lock(mutex_);
  tickBase_ = ticks - static_cast<std::uint32_t>(elapsed_);
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
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, &y, &m, &d);
  LocalTime t;
  t.year = static_cast<std::uint16_t>(y);
  t.month = static_cast<std::uint16_t>(m);
  t.day = static_cast<std::uint16_t>(d);
  t.dayOfWeek = static_cast<std::uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
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
