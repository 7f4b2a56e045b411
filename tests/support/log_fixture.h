#pragma once
// A Log on the fake platform, with a log directory on the fake disk and helpers to set the
// wall clock and read back the day's file.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "log/log.h"
#include "platform/fake/fake_platform.h"

namespace keldran::testing {

class LogFixture : public ::testing::Test {
 protected:
  static constexpr const char* kLogDir = "C:\\Logs";
  static constexpr const char* kDayFile = "C:\\Logs\\2024-03-01.log";

  LogFixture() { fake.files.AddDirectory(kLogDir); }

  void SetClock(std::uint16_t hour, std::uint16_t minute, std::uint16_t second,
                std::uint16_t milliseconds, std::uint16_t day = 1) {
    fake.clock.SetLocalTime({2024, 3, /*dayOfWeek*/ 0, day, hour, minute, second, milliseconds});
  }

  // File logging into kLogDir at 09:05:03.007, with the event source "Grid".
  void LogToDisk() {
    log.setLogDir(kLogDir);
    log.setEventSourceName("Grid");
    SetClock(9, 5, 3, 7);
  }

  // The day's file, empty when it does not exist.
  std::string DayFile(const char* path = kDayFile) const {
    return fake.files.FileContent(path).value_or("");
  }

  // Everything sent to the debugger, joined.
  std::string Debugger() const {
    std::string all;
    for (const auto& piece : fake.texts.DebugOutput()) all += piece;
    return all;
  }

  // The Logging Failure reports (event 1001) so far.
  std::vector<fake::RecordedEvent> FailureEvents() const {
    return fake.eventLog.EventsWithId(1001);
  }

  fake::FakePlatform fake;
  Log log{fake.platform()};
};

}  // namespace keldran::testing
