// The queue before the log writer: holds delay records without holding up callers, and a full
// queue drops whole records and says how many.
#include <gtest/gtest.h>

#include <string>

#include "log/error_text.h"
#include "support/log_fixture.h"

namespace keldran {
namespace {

class LogQueueTest : public testing::LogFixture {
 protected:
  // Another program holds the day's file or the machine-wide mutex until the result is called.
  std::function<void()> Hold(bool file) {
    if (!file) {
      fake.sync.HoldElsewhere(Log::kMutexName, true);
      return [this] { fake.sync.HoldElsewhere(Log::kMutexName, false); };
    }
    FileHandle held;
    EXPECT_EQ(fake.files.CreateFile(kDayFile, file_access::kGenericWrite, file_share::kRead,
                                    file_creation::kOpenAlways, 0, &held),
              0u);
    return [this, held] { fake.files.CloseFile(held); };
  }

  // The record's line as the file will hold it.
  std::string Logged(const std::string& text) {
    const LocalTime t = fake.clock.LocalNow();
    const auto before = fake.clock.Elapsed();
    log.logDebug(text, nullptr);
    EXPECT_EQ(fake.clock.Elapsed(), before) << "the caller waited";
    return Format("\r\n\r\n#%02i:%02i:%02i.%03i## ", t.hour, t.minute, t.second, t.milliseconds) +
           text;
  }
};

TEST_F(LogQueueTest, HeldFileOrMutexDelaysRecordsInOrderAndIsReportedOnceAfterTenSeconds) {
  const std::string file = "Could not write to log file C:\\Logs\\2024-03-01.log\n\n";
  const std::pair<bool, std::string> holds[] = {
      {true, file + "Timeout after waiting 10 seconds\n\nThis probably means another application "
                    "is writing to the same file"},
      {false,
       file + "Unable to acquire logDebug mutex\n\nTimeout after waiting 10000 milliseconds"},
  };
  LogToDisk();
  std::size_t reports = 0;
  for (const auto& [heldFile, report] : holds) {
    SCOPED_TRACE(report);
    fake.files.RemoveTree(kDayFile);
    const auto release = Hold(heldFile);
    std::string expected;
    for (int second = 0; second < 12; ++second) {
      expected += Logged(Format("record %d", second));
      fake.clock.Advance(1000);
      EXPECT_EQ(FailureEvents().size(), reports + (second >= 9 ? 1 : 0)) << second;
    }
    EXPECT_EQ(DayFile(), "");
    ASSERT_EQ(FailureEvents().size(), ++reports);
    EXPECT_EQ(FailureEvents().back().strings, std::vector<std::string>{report});
    EXPECT_TRUE(log.failureReported(Log::kLogFileFailure));

    release();
    fake.clock.Advance(100);  // the writer's slowest retry
    EXPECT_EQ(DayFile(), expected);
    EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
  }
}

TEST_F(LogQueueTest, FullQueueDropsWholeRecordsAndANoteSaysHowManyWhereTheyWouldHaveBeen) {
  const std::string note = "#Logging Failure# Log records dropped here: ";
  LogToDisk();
  const auto release = Hold(false);
  for (std::size_t i = 0; i < log_limits::kQueueRecords + 3; ++i)
    log.logDebug(Format("r%05zu", i), nullptr);
  release();
  fake.clock.Advance(100);
  log.logDebug("after", nullptr);
  const std::string content = DayFile();
  const std::size_t last = content.find(Format("r%05zu", log_limits::kQueueRecords - 1));
  const std::size_t dropped = content.find(note + "3 ");
  ASSERT_NE(last, std::string::npos);
  ASSERT_NE(dropped, std::string::npos);
  EXPECT_LT(last, dropped);
  EXPECT_LT(dropped, content.find("## after"));
  EXPECT_EQ(content.find(Format("r%05zu", log_limits::kQueueRecords)), std::string::npos);
}

}  // namespace
}  // namespace keldran
