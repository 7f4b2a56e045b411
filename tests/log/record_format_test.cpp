// The bytes a record leaves in the file and at the debugger; input beyond the writer's buffers is
// cut or refused where they end (ASan sees any write past one).
#include <gtest/gtest.h>

#include <string>

#include "support/log_fixture.h"

namespace keldran {
namespace {

using namespace std::string_literals;
using RecordFormatTest = testing::LogFixture;

const std::string kHeader = "\r\n\r\n#09:05:03.007## ";
const std::string kGridHeader = "\r\n\r\n#09:05:03.007#Grid# ";

TEST_F(RecordFormatTest, FileHoldsTheRecordByteForByte) {
  const std::string tag239(239, 't');
  const std::string longTag = tag239 + "overflow";
  const struct {
    const char* name;
    std::string text;
    const char* tag;
    std::string file;  // what the file holds afterwards
  } cases[] = {
      {"WithTag", "Client started", "Grid", kGridHeader + "Client started"},
      {"WithoutTag", "Client started", nullptr, kHeader + "Client started"},
      {"EmptyTagIsStillATag", "x", "", "\r\n\r\n#09:05:03.007## x"},
      // The header buffer holds 259 characters: a longer tag is cut to fit.
      {"TagIsCutTo239Characters", "b", longTag.c_str(), "\r\n\r\n#09:05:03.007#" + tag239 + "# b"},
      {"BlanksOnlyStayAsTheyAre", "   ", nullptr, kHeader + "   "},
      {"LineBreaksOnlyStayNormalised", "\n\n\r", nullptr, kHeader + "\r\n\r\n\r\n"},
      {"TrailingBlankAndLineBreakGo", "A \r\n", nullptr, kHeader + "A"},
      {"TrailingMixtureGoes", "Done  \r\n \n\r", nullptr, kHeader + "Done"},
      {"LeadingBlanksGo", "   Hello", nullptr, kHeader + "Hello"},
      {"OneLineFeedIsDropped", "\nHello", nullptr, kHeader + "Hello"},
      {"CrLfIsDropped", "\r\nHello", nullptr, kHeader + "Hello"},
      {"TwoLineFeedsStartTheTextBelowTheHeader", "\n\nHello", nullptr, kHeader + "\r\nHello"},
      {"FourLineFeedsPutTwoBreaksBeforeTheHeader", "\n\n\n\nHello", nullptr,
       "\r\n\r\n" + kHeader + "\r\nHello"},
      {"BlanksAfterTheBreaksKeepTheTextOnTheHeaderLine", "\n\n  Hello", nullptr, kHeader + "Hello"},
      {"ThreeBreaksAndABlank", "\n\n\n Hello", "Grid", "\r\n" + kGridHeader + "Hello"},
      {"OnlyLineFeedsAreCounted", "\r\r\r\nHello", nullptr, kHeader + "Hello"},
      {"MixedBreaksCountTheirLineFeeds", "\n\r\n\rHello", nullptr, kHeader + "\r\nHello"},
      {"MixedLineBreaksBecomeCrLf", "a\nb\rc\r\nd", nullptr, kHeader + "a\r\nb\r\nc\r\nd"},
      {"InnerEmptyLinesStay", "one\n\ntwo\r\r", nullptr, kHeader + "one\r\n\r\ntwo"},
      {"NulBytesAreDropped", "He\0llo\0"s, nullptr, kHeader + "Hello"},
      {"NulBetweenCrAndLfMakesOneBreak", "a\r\0\nb"s, nullptr, kHeader + "a\r\nb"},
      {"NulDoesNotShieldTrailingBlanks", "A \0\r\n"s, nullptr, kHeader + "A"},
      {"NulsAndBreaksOnly", "\0\r\0\n\0"s, nullptr, kHeader + "\r\n"},
      {"EmptyTextWritesNothing", "", "Grid", ""},
      {"NulBytesOnlyWriteNothing", "\0\0"s, "Grid", ""},
  };
  LogToDisk();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake.files.RemoveTree(kDayFile);
    log.logDebug(c.text, c.tag);
    EXPECT_EQ(DayFile(), c.file);
  }
  EXPECT_TRUE(FailureEvents().empty());
}

TEST_F(RecordFormatTest, RecordsAreSeparatedByOneEmptyLineAndTheDebuggerGetsThemWithAFinalBreak) {
  LogToDisk();
  log.setLogTrace(true);
  log.logDebug("", "Grid");  // an empty text reaches nobody
  EXPECT_TRUE(fake.texts.DebugOutput().empty());
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_TRUE(fake.files.Opens().empty());
  log.setLogTrace(false);

  SetClock(0, 0, 0, 0);
  log.logDebug("first", "T");
  SetClock(23, 59, 59, 999);
  log.logDebug("\n\n\n\nsecond\n", nullptr);
  EXPECT_EQ(DayFile(), "\r\n\r\n#00:00:00.000#T# first\r\n\r\n\r\n\r\n#23:59:59.999## \r\nsecond");
  EXPECT_EQ(fake.texts.DebugOutput(),  // without the record's first break, with a final one
            (std::vector<std::string>{"\r\n#00:00:00.000#T# first\r\n",
                                      "\r\n\r\n\r\n#23:59:59.999## \r\nsecond\r\n"}));
}

TEST_F(RecordFormatTest, HundredThousandCharactersOrLineBreaksOrHugeEventStringsAreWrittenWhole) {
  LogToDisk();
  log.setLogTrace(true);
  const std::string text(100000, 'x');
  log.logDebug(text, "Grid");
  EXPECT_EQ(DayFile(), kGridHeader + text);
  EXPECT_EQ(fake.eventLog.Events().at(0).strings.at(0).size(), 4 + 20 + text.size() + 2);

  fake.files.RemoveTree(kDayFile);
  log.logDebug(std::string(100000, '\n') + "end", nullptr);
  std::string expected;  // two of the breaks go with the header, the rest before it
  for (int i = 0; i < 99998; ++i) expected += "\r\n";
  EXPECT_EQ(DayFile(), expected + kHeader + "\r\nend");

  // An event's huge strings are joined whole; without a string array it has none.
  fake.eventLog.Clear();
  const std::string huge(100000, 'h');
  const char* strings[] = {huge.c_str(), "\0tail", huge.c_str(), nullptr};
  log.logEvent(event_type::kError, 3, 116, strings, 4, nullptr);
  EXPECT_EQ(fake.eventLog.Events().at(0).strings.at(0).size(), 200001u);
  log.logEvent(event_type::kError, 3, 116, nullptr, 4, nullptr);
  EXPECT_EQ(fake.eventLog.Events().at(1).strings, std::vector<std::string>{""});
  EXPECT_TRUE(FailureEvents().empty());
}

TEST_F(RecordFormatTest, FailureMessageDirectoryAndEventSourceNameAreCutOrRefusedWithoutOverflow) {
  const std::string detail(5000, 'm');
  log.logFail(Log::kLogFileFailure, "Could not write %s", detail.c_str());
  EXPECT_EQ(FailureEvents().at(0).strings.at(0), ("Could not write " + detail).substr(0, 779));

  log.logDebug("clears the failure", nullptr);
  const std::string dir(100000, 'd');
  log.setLogDir(dir.c_str());
  EXPECT_FALSE(log.fileLoggingOn());
  EXPECT_EQ(FailureEvents().at(1).strings.at(0).size(), 779u);
  log.logDebug("x", nullptr);
  EXPECT_TRUE(fake.files.Opens().empty());
  log.setEventSourceName(std::string(1000, 's'));
  EXPECT_EQ(log.eventSourceName(), std::string(259, 's'));
}

}  // namespace
}  // namespace keldran
