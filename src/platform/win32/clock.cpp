// IClock over the tick count, the local time, the C run-time's seconds and the performance
// counter.
#include <time.h>

#include "platform/win32/backend.h"

namespace keldran::win32 {
namespace {

class Clock final : public IClock {
 public:
  std::uint32_t TickCount() override { return ::GetTickCount(); }
  std::uint64_t TickCount64() override { return ::GetTickCount64(); }

  LocalTime LocalNow() override {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return LocalTime{t.wYear, t.wMonth,  t.wDayOfWeek, t.wDay,
                     t.wHour, t.wMinute, t.wSecond,    t.wMilliseconds};
  }

  std::int64_t Time64() override { return ::_time64(nullptr); }
  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }

  std::int64_t PerformanceCounter() override {
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
  }
};

}  // namespace

std::unique_ptr<IClock> MakeClock() { return std::make_unique<Clock>(); }

}  // namespace keldran::win32
