#pragma once
// Time: the millisecond tick count, the local wall-clock time, whole seconds, sleeping and the
// performance counter.

#include <cstdint>

namespace keldran {

struct LocalTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  // GetTickCount: milliseconds, wraps after about 49.7 days.
  virtual std::uint32_t TickCount() = 0;
  // GetTickCount64: milliseconds, never wraps.
  virtual std::uint64_t TickCount64() = 0;
  // GetLocalTime.
  virtual LocalTime LocalNow() = 0;
  // _time64: whole seconds since 1970.
  virtual std::int64_t Time64() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  virtual std::int64_t PerformanceCounter() = 0;
};

}  // namespace keldran
