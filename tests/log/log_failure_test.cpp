// Failures of the log file: a file another program holds, the global mutex held elsewhere, and
// writes that fail. Each is reported once (debugger banners and event 1001), later records are
// dropped at once, and the first record that gets through clears the state.
#include <gtest/gtest.h>

#include <string>

#include "support/log_fixture.h"

namespace keldran {
namespace {

constexpr const char* kBannerBelow = "\n***\n*** ERROR *** See details below ***\n***\n";
constexpr const char* kBannerAbove = "\n***\n*** ERROR *** See details above ***\n***\n";
const std::string kLockedText =
    "Could not write to log file C:\\Logs\\2024-03-01.log\n\nTimeout after waiting 10 seconds\n\n"
    "This probably means another application is writing to the same file";
const std::string kMutexText =
    "Could not write to log file C:\\Logs\\2024-03-01.log\n\nUnable to acquire logDebug mutex\n\n"
    "Timeout after waiting 10000 milliseconds";

class LogFailureTest : public testing::LogFixture {
 protected:
  // Another program opens the day's file for writing and shares only reading.
  FileHandle HoldFile() {
    FileHandle held;
    EXPECT_EQ(fake.files.CreateFile(kDayFile, file_access::kGenericWrite, file_share::kRead,
                                    file_creation::kOpenAlways, 0, &held),
              0u);
    return held;
  }

  // The virtual milliseconds one record took.
  std::uint64_t TimedRecord(const std::string& text) {
    const auto before = fake.clock.Elapsed();
    log.logDebug(text, nullptr);
    return fake.clock.Elapsed() - before;
  }

  void ExpectOneReport(const std::string& text) {
    const auto failures = FailureEvents();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].source, "Grid");
    EXPECT_EQ(failures[0].type, 1);
    EXPECT_EQ(failures[0].category, 13);
    EXPECT_EQ(failures[0].strings, std::vector<std::string>{text});
    EXPECT_NE(Debugger().find(kBannerBelow + text + kBannerAbove), std::string::npos);
  }
};

TEST_F(LogFailureTest, LockedFileWaitsTenSecondsOnceThenDropsRecordsUntilOneGetsThrough) {
  LogToDisk();
  const FileHandle held = HoldFile();

  const auto firstWait = TimedRecord("first");
  EXPECT_GE(firstWait, 9000u);
  EXPECT_LE(firstWait, 10100u);
  ExpectOneReport(kLockedText);
  EXPECT_TRUE(log.failureReported(Log::kLogFileFailure));
  EXPECT_EQ(fake.files.OpenHandleCount(), 1u);  // only the other program's

  // Dropped at once, with no new report, but still at the debugger.
  fake.texts.ClearDebugOutput();
  EXPECT_EQ(TimedRecord("second"), 0u);
  EXPECT_EQ(TimedRecord("third"), 0u);
  EXPECT_EQ(FailureEvents().size(), 1u);
  EXPECT_EQ(Debugger().find("*** ERROR ***"), std::string::npos);
  EXPECT_NE(Debugger().find("third"), std::string::npos);

  fake.files.CloseFile(held);
  SetClock(9, 6, 0, 0);
  EXPECT_EQ(TimedRecord("fourth"), 0u);
  EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
  EXPECT_EQ(DayFile(), "\r\n\r\n#09:06:00.000## fourth");

  // Locked again after a success: waited for and reported again.
  const FileHandle again = HoldFile();
  EXPECT_GE(TimedRecord("fifth"), 9000u);
  EXPECT_EQ(FailureEvents().size(), 2u);
  fake.files.CloseFile(again);
}

TEST_F(LogFailureTest, MutexHeldElsewhereWaitsTenSecondsThenIsNotWaitedForUntilASuccess) {
  LogToDisk();
  fake.sync.HoldElsewhere(Log::kMutexName, true);

  EXPECT_EQ(TimedRecord("first"), 10000u);
  ExpectOneReport(kMutexText);
  EXPECT_TRUE(fake.files.Opens().empty());

  EXPECT_EQ(TimedRecord("second"), 0u);
  EXPECT_EQ(FailureEvents().size(), 1u);

  fake.sync.HoldElsewhere(Log::kMutexName, false);
  EXPECT_EQ(TimedRecord("third"), 0u);
  EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
  EXPECT_EQ(DayFile(), "\r\n\r\n#09:05:13.007## third");

  fake.sync.HoldElsewhere(Log::kMutexName, true);
  EXPECT_EQ(TimedRecord("fourth"), 10000u);
  EXPECT_EQ(FailureEvents().size(), 2u);
}

TEST_F(LogFailureTest, AfterALockedFileTheMutexIsNotWaitedForEither) {
  LogToDisk();
  const FileHandle held = HoldFile();
  log.logDebug("first", nullptr);
  fake.sync.HoldElsewhere(Log::kMutexName, true);
  EXPECT_EQ(TimedRecord("second"), 0u);
  EXPECT_EQ(FailureEvents().size(), 1u);
  fake.files.CloseFile(held);
}

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
    EXPECT_EQ(TimedRecord("x"), 0u);  // 21 bytes
    ExpectOneReport(c.text);
    EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
    log.logDebug("kept", nullptr);
    EXPECT_EQ(DayFile(), c.left + "\r\n\r\n#09:05:03.007## kept");
    EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
  }
}

TEST_F(LogFailureTest, MissingDirectoryIsReportedAsPathNotFound) {
  log.setEventSourceName("Grid");
  log.setLogDir("C:\\NoSuchDir");
  log.logDebug("x", nullptr);
  const auto failures = FailureEvents();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].strings.at(0),
            "Could not write to log file C:\\NoSuchDir\\2024-03-01.log\r\n\r\n Error: 3 "
            "(0x00000003) Path not found.");
}

TEST_F(LogFailureTest, ReportThatCannotReachTheEventLogSaysSoAtTheDebugger) {
  LogToDisk();
  fake.faults.Fail("ReportEvent", 1502);
  fake.faults.Fail("CreateFile", 5);
  log.logDebug("x", nullptr);
  EXPECT_NE(Debugger().find("\n\n***\n*** ERROR *** The logFail() could not write to event "
                            "log\n***\r\n\r\n Error: 1502 (0x000005DE) "),
            std::string::npos);
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
}

TEST_F(LogFailureTest, EventSourceThatCannotBeRegisteredLeavesOnlyTheDebuggerReport) {
  LogToDisk();
  fake.faults.Fail("RegisterEventSource", 5);
  fake.faults.Fail("CreateFile", 5);
  log.logDebug("x", nullptr);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_NE(Debugger().find(kBannerBelow), std::string::npos);
  EXPECT_EQ(Debugger().find("could not write to event log"), std::string::npos);
}

TEST_F(LogFailureTest, EventLogFailureIsAlsoWrittenAsARecordUnlessTheFileFails) {
  LogToDisk();
  log.logFail(Log::kEventLogFailure, "event log broken (%d)", 7);
  EXPECT_EQ(DayFile(), "\r\n\r\n#09:05:03.007#Logging Failure# event log broken (7)");
  // Reported once until an event goes through.
  log.logFail(Log::kEventLogFailure, "again");
  EXPECT_EQ(FailureEvents().size(), 1u);
}

TEST_F(LogFailureTest, EventLogFailureIsNotWrittenWhileTheFileFails) {
  LogToDisk();
  log.logFail(Log::kLogFileFailure, "file broken");
  log.logFail(Log::kEventLogFailure, "event log broken");
  EXPECT_EQ(FailureEvents().size(), 2u);
  EXPECT_TRUE(fake.files.Opens().empty());
}

}  // namespace
}  // namespace keldran
