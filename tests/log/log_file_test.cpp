// Where records go (the day's file, under the global mutex; the trace echo) and what failing costs.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>

#include "support/log_fixture.h"

namespace keldran {
namespace {

using LogFileTest = testing::LogFixture;

TEST_F(LogFileTest, RecordsGoToTheFileOfTheirDateAndOldDailyFilesGoWhenANewDaysFileStarts) {
  for (const char* name : {"2024-02-24.log", "2024-02-25.log", "notes.log"})
    fake.files.AddFile(std::string(kLogDir) + "\\" + name, "old");
  log.setLogDir(kLogDir);
  // Records around midnight land in two files named by date.
  SetClock(23, 59, 59, 999);
  log.logDebug("last of the first", nullptr);
  fake.clock.Advance(1);
  log.logDebug("first of the second", nullptr);
  EXPECT_EQ(DayFile(), "\r\n\r\n#23:59:59.999## last of the first");
  EXPECT_EQ(DayFile("C:\\Logs\\2024-03-02.log"), "\r\n\r\n#00:00:00.000## first of the second");

  log.setLogKeepDays(7);
  SetClock(9, 0, 0, 0, 3);
  log.logDebug("third of March", nullptr);  // 2024-02-24 is 8 days old: it goes
  EXPECT_EQ(fake.files.ListFiles(kLogDir),
            (std::vector<std::string>{"2024-02-25.log", "2024-03-01.log", "2024-03-02.log",
                                      "2024-03-03.log", "notes.log"}));
}

// Retention by the files' names alone, so that no row depends on today's date.
TEST(DayFileRetentionTest, OnlyDailyFilesOlderThanTheKeptDaysGoAcrossMonthsYearsAndLeapDays) {
  const struct {
    const char* name;
    const char* today;
    std::int32_t keepDays;
    bool expired;
  } cases[] = {
      {"2024-02-24.log", "2024-03-03.log", 7, true},   // 8 days old
      {"2024-02-25.log", "2024-03-03.log", 7, false},  // 7: kept
      {"2024-03-31.log", "2024-04-08.log", 7, true},   // the 31st
      {"2024-03-31.log", "2024-04-07.log", 7, false},
      {"2024-01-23.log", "2024-01-31.log", 7, true},  // today the 31st
      {"2023-12-31.log", "2024-01-08.log", 7, true},  // across the year's end
      {"2000-02-28.log", "2000-03-08.log", 8, true},  // 2000 has a leap day, 2100 none
      {"2100-02-28.log", "2100-03-08.log", 8, false},
      {"2024-02-01.LOG", "2024-03-03.log", 7, true},   // names ignore case
      {"2020-01-01.log", "2024-03-03.log", 0, false},  // no LogKeepDays: nothing goes
      {"2024-02-01.log", "notes.log", 7, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsExpiredDayFile(c.name, c.today, c.keepDays), c.expired)
        << c.name << " on " << c.today << ", " << c.keepDays << " days kept";
  }
  // Not daily files, each old enough to go if it were one.
  for (const char* name :
       {"2024-00-10.log", "2024-13-01.log", "2024-02-00.log", "2024-01-32.log", "2024-1/-01.log",
        "2024-1:-01.log", "2024-02-01.lox", "2024_02-01.log", "x2024-02-01.log"})
    EXPECT_FALSE(IsExpiredDayFile(name, "2025-03-03.log", 7)) << name;
}

TEST_F(LogFileTest, WithoutALogDirectoryOrWithATooLongOneNothingTouchesTheDisk) {
  log.setEventSourceName("Grid");
  log.logDebug("only to the debugger", "Grid");
  EXPECT_FALSE(log.fileLoggingOn());
  EXPECT_EQ(Debugger(), "\r\n#09:00:00.000#Grid# only to the debugger\r\n");
  EXPECT_TRUE(fake.files.Opens().empty());

  // A directory of up to 245 characters is used; a longer one is reported once.
  const std::string fits = "C:\\" + std::string(241, 'd');  // 244, plus the backslash
  fake.files.AddDirectory(fits);
  log.setLogDir(fits.c_str());
  log.logDebug("fits", nullptr);
  EXPECT_TRUE(log.fileLoggingOn());
  EXPECT_TRUE(fake.files.Exists(fits + "\\2024-03-01.log"));
  EXPECT_TRUE(FailureEvents().empty());

  const std::string dir = fits + "d";  // 245, plus the backslash
  log.setLogDir(dir.c_str());
  log.setLogDir((dir + "\\").c_str());
  EXPECT_FALSE(log.fileLoggingOn());
  EXPECT_EQ(FailureTexts(),
            std::vector<std::string>{"Could not write to log file " + dir +
                                     "\\\n\nThe log directory is longer than 245 characters"});
  log.logDebug("not on disk", nullptr);
  EXPECT_EQ(fake.files.Opens().size(), 1u);
}

TEST_F(LogFileTest, EachRecordOpensWritesThroughAndClosesTheFileSharingReading) {
  fake.files.AddFile(kDayFile, "earlier");
  LogToDisk();
  log.setLogDir("C:\\Logs\\");  // with or without its trailing backslash
  log.logDebug("one", nullptr);
  const auto o = fake.files.Opens().at(0);
  // GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, write-through and not content indexed.
  EXPECT_EQ(std::tie(o.path, o.access, o.share, o.creation, o.flags),
            std::make_tuple(std::string(kDayFile), 0x40000000u, 1u, 4u, 0x80002000u));
  EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
  // Appended at the end, never truncated.
  EXPECT_EQ(DayFile(), "earlier\r\n\r\n#09:05:03.007## one");
}

TEST_F(LogFileTest, MutexIsSharedWithEveryAccountFreeAfterEachRecordAndAcquiredIfAbandoned) {
  const std::string name = "Global\\Keldran.Mutex:Log:{9B4E1D72-A6C3-4E58-B0F7-3C81D2E5A694}";
  EXPECT_EQ(fake.sync.SddlOf(name), "D:P(A;;0x100001;;;WD)");
  LogToDisk();
  log.logDebug("one", nullptr);
  MutexHandle other;
  ASSERT_EQ(fake.sync.CreateNamedMutex(Log::kMutexName, "", &other), 0u);
  // A thread that ends while owning the mutex leaves it abandoned.
  std::thread([&] { EXPECT_EQ(fake.sync.WaitForMutex(other, 0), wait_result::kObject0); }).join();
  const auto before = fake.clock.Elapsed();
  log.logDebug("after a crash elsewhere", nullptr);
  EXPECT_EQ(fake.clock.Elapsed(), before);
  EXPECT_EQ(DayFile(),
            "\r\n\r\n#09:05:03.007## one\r\n\r\n#09:05:03.007## after a crash elsewhere");
  EXPECT_TRUE(FailureEvents().empty());
  fake.sync.CloseMutex(other);
}

TEST_F(LogFileTest, TraceEchoesEachRecordButEventRecordsAsInformationEvent1000) {
  LogToDisk();
  log.logDebug("not traced", nullptr);
  log.setLogTrace(true);
  log.logDebug("traced", "Grid");
  log.logDebug("x ==================== INFO.Log ==================== y", nullptr);
  const auto events = fake.eventLog.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(std::tie(events[0].source, events[0].type, events[0].category, events[0].id),
            std::make_tuple(std::string("Grid"), std::uint16_t{4}, std::uint16_t{6}, 1000u));
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"\r\n\r\n#09:05:03.007#Grid# traced\r\n"});
}

// A failed open or write loses its record and is reported once; a held file only delays records.

constexpr const char* kBannerBelow = "\n***\n*** ERROR *** See details below ***\n***\n";
constexpr const char* kBannerAbove = "\n***\n*** ERROR *** See details above ***\n***\n";

using LogFailureTest = testing::LogFixture;

TEST_F(LogFailureTest, FailedWriteIsReportedOnceWithoutWaitingAndTheNextRecordTriesAgain) {
  const std::string text =
      "Could not write to log file C:\\Logs\\2024-03-01.log\r\n\r\n Error: 112 (0x00000070) Disk "
      "full.";
  LogToDisk();
  fake.faults.Fail("WriteFile", 112);
  const auto before = fake.clock.Elapsed();
  log.logDebug("x", nullptr);
  EXPECT_EQ(fake.clock.Elapsed(), before);
  const auto failures = FailureEvents();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(std::tie(failures[0].source, failures[0].type, failures[0].category),
            std::make_tuple(std::string("Grid"), std::uint16_t{1}, std::uint16_t{13}));
  EXPECT_EQ(failures[0].strings, std::vector<std::string>{text});
  EXPECT_NE(Debugger().find(kBannerBelow + text + kBannerAbove), std::string::npos);
  EXPECT_EQ(fake.files.OpenHandleCount(), 0u);
  log.logDebug("kept", nullptr);
  EXPECT_EQ(DayFile(), "\r\n\r\n#09:05:03.007## kept");
  EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
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
  EXPECT_EQ(FailureTexts(), std::vector<std::string>{"Could not write to log file C:\\NoSuchDir\\"
                                                     "2024-03-01.log\r\n\r\n Error: 3 "
                                                     "(0x00000003) Path not found."});
}

}  // namespace
}  // namespace keldran
