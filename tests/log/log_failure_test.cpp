// Failures of the log file: opens and writes that fail lose their record and are reported once
// (debugger banners and event 1001); the next record tries again. (A file or mutex held
// elsewhere only delays records: log_queue_test.)
#include <gtest/gtest.h>

#include <string>

#include "support/log_fixture.h"

namespace keldran {
namespace {

constexpr const char* kBannerBelow = "\n***\n*** ERROR *** See details below ***\n***\n";
constexpr const char* kBannerAbove = "\n***\n*** ERROR *** See details above ***\n***\n";

using LogFailureTest = testing::LogFixture;

TEST_F(LogFailureTest, FailedOpenOrWriteIsReportedOnceWithoutWaitingAndTheNextRecordTriesAgain) {
  const std::string file = "Could not write to log file C:\\Logs\\2024-03-01.log";
  struct Case {
    const char* fault;
    std::uint32_t error;  // 0: a short write of 10 bytes
    std::string text;
    std::string left;  // what the failed record left in the file
  } cases[] = {
      {"WriteFile", 112, file + "\r\n\r\n Error: 112 (0x00000070) Disk full.", ""},
      {"CreateFile", 5, file + "\r\n\r\n Error: 5 (0x00000005) Access denied.", ""},
      {"", 0, file + "\n\nWriteFile didn't write all data (nData=00000015, nWritten=0000000A)",
       "\r\n\r\n#09:05"},
  };
  LogToDisk();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fake.eventLog.Clear();
    fake.texts.ClearDebugOutput();
    fake.files.RemoveTree(kDayFile);
    if (c.error)
      fake.faults.Fail(c.fault, c.error);
    else
      fake.files.LimitNextWrite(10);
    const auto before = fake.clock.Elapsed();
    log.logDebug("x", nullptr);  // 21 bytes
    EXPECT_EQ(fake.clock.Elapsed(), before);
    const auto failures = FailureEvents();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].source, "Grid");
    EXPECT_EQ(failures[0].type, 1);
    EXPECT_EQ(failures[0].category, 13);
    EXPECT_EQ(failures[0].strings, std::vector<std::string>{c.text});
    EXPECT_NE(Debugger().find(kBannerBelow + c.text + kBannerAbove), std::string::npos);
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
    log.logDebug("kept", nullptr);
    EXPECT_EQ(DayFile(), c.left + "\r\n\r\n#09:05:03.007## kept");
    EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
  }
}

TEST_F(LogFailureTest, AMissingFolderIsMadeWithItsParentsAndOneThatCannotBeIsReported) {
  log.setEventSourceName("Grid");
  log.setLogDir("C:\\Logs\\new\\deeper");
  log.logDebug("x", nullptr);
  EXPECT_EQ(DayFile("C:\\Logs\\new\\deeper\\2024-03-01.log"), "\r\n\r\n#09:00:00.000## x");
  EXPECT_TRUE(FailureEvents().empty());

  fake.faults.Fail("CreateDirectory", win32_error::kAccessDenied, -1);
  log.setLogDir("C:\\NoSuchDir");
  log.logDebug("x", nullptr);
  const auto failures = FailureEvents();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].strings.at(0),
            "Could not write to log file C:\\NoSuchDir\\2024-03-01.log\r\n\r\n Error: 3 "
            "(0x00000003) Path not found.");
}

TEST_F(LogFailureTest, ReportThatCannotReachTheEventLogIsLeftAtTheDebugger) {
  LogToDisk();
  fake.faults.Fail("RegisterEventSource", 5);
  fake.faults.Fail("CreateFile", 5);
  log.logDebug("x", nullptr);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_NE(Debugger().find(kBannerBelow), std::string::npos);
  EXPECT_EQ(Debugger().find("could not write to event log"), std::string::npos);
  // An event log that refuses the report: that is said there too.
  fake.faults.Fail("ReportEvent", 1502);
  log.logFail(Log::kEventLogFailure, "x");
  EXPECT_NE(Debugger().find("\n\n***\n*** ERROR *** The logFail() could not write to event "
                            "log\n***\r\n\r\n Error: 1502 (0x000005DE) "),
            std::string::npos);
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
  EXPECT_EQ(DayFile(), "") << "no event log failure record while the file fails";
}

TEST_F(LogFailureTest, EventLogFailureIsAlsoWrittenAsARecordUnlessTheFileFails) {
  LogToDisk();
  log.logFail(Log::kEventLogFailure, "event log broken (%d)", 7);
  EXPECT_EQ(DayFile(), "\r\n\r\n#09:05:03.007#Logging Failure# event log broken (7)");
  // Reported once until an event goes through.
  log.logFail(Log::kEventLogFailure, "again");
  EXPECT_EQ(FailureEvents().size(), 1u);
}

}  // namespace
}  // namespace keldran
