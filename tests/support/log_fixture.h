#pragma once
// A Log on the fake platform with a log directory, the wall clock and the day's file at hand.

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

  // File logging into kLogDir at 09:05:03.007, as source "Grid".
  void LogToDisk() {
    log.setLogDir(kLogDir);
    log.setEventSourceName("Grid");
    SetClock(9, 5, 3, 7);
  }

  std::string DayFile(const char* path = kDayFile) const {
    return fake.files.FileContent(path).value_or("");
  }

  std::string Debugger() const {
    std::string all;
    for (const auto& piece : fake.texts.DebugOutput()) all += piece;
    return all;
  }

  // The Logging Failure reports (event 1001) and their texts.
  std::vector<fake::RecordedEvent> FailureEvents() const {
    return fake.eventLog.EventsWithId(1001);
  }
  std::vector<std::string> FailureTexts() const {
    std::vector<std::string> texts;
    for (const auto& e : FailureEvents()) texts.push_back(e.strings.at(0));
    return texts;
  }

  fake::FakePlatform fake;
  Log log{fake.platform()};
};

}  // namespace keldran::testing
