// The bytes a record leaves in the day's file and at the debugger, for every shape of text.
#include <gtest/gtest.h>

#include <string>

#include "support/log_fixture.h"

namespace keldran {
namespace {

using namespace std::string_literals;

// 09:05:03.007, as every case below is written.
const std::string kHeader = "\r\n\r\n#09:05:03.007## ";
const std::string kGridHeader = "\r\n\r\n#09:05:03.007#Grid# ";

struct FormatCase {
  const char* name;
  std::string text;
  const char* tag;
  std::string file;  // what the file holds afterwards
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class RecordFormatTest : public testing::LogFixture,
                         public ::testing::WithParamInterface<FormatCase> {};

TEST_P(RecordFormatTest, FileHoldsTheRecordByteForByte) {
  LogToDisk();
  log.logDebug(GetParam().text, GetParam().tag);
  EXPECT_EQ(DayFile(), GetParam().file);
  EXPECT_TRUE(FailureEvents().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RecordFormatTest,
    ::testing::Values(
        FormatCase{"WithTag", "Client started", "Grid", kGridHeader + "Client started"},
        FormatCase{"WithoutTag", "Client started", nullptr, kHeader + "Client started"},
        FormatCase{"EmptyTagIsStillATag", "x", "", "\r\n\r\n#09:05:03.007## x"},
        FormatCase{"BlanksOnlyStayAsTheyAre", "   ", nullptr, kHeader + "   "},
        FormatCase{"LineBreaksOnlyStayNormalised", "\n\n\r", nullptr, kHeader + "\r\n\r\n\r\n"},
        FormatCase{"TrailingBlankAndLineBreakGo", "A \r\n", nullptr, kHeader + "A"},
        FormatCase{"TrailingMixtureGoes", "Done  \r\n \n\r", nullptr, kHeader + "Done"},
        FormatCase{"LeadingBlanksGo", "   Hello", nullptr, kHeader + "Hello"},
        FormatCase{"OneLineFeedIsDropped", "\nHello", nullptr, kHeader + "Hello"},
        FormatCase{"CrLfIsDropped", "\r\nHello", nullptr, kHeader + "Hello"},
        FormatCase{"TwoLineFeedsStartTheTextBelowTheHeader", "\n\nHello", nullptr,
                   kHeader + "\r\nHello"},
        FormatCase{"FourLineFeedsPutTwoBreaksBeforeTheHeader", "\n\n\n\nHello", nullptr,
                   "\r\n\r\n" + kHeader + "\r\nHello"},
        FormatCase{"BlanksAfterTheBreaksKeepTheTextOnTheHeaderLine", "\n\n  Hello", nullptr,
                   kHeader + "Hello"},
        FormatCase{"ThreeBreaksAndABlank", "\n\n\n Hello", "Grid", "\r\n" + kGridHeader + "Hello"},
        FormatCase{"OnlyLineFeedsAreCounted", "\r\r\r\nHello", nullptr, kHeader + "Hello"},
        FormatCase{"MixedBreaksCountTheirLineFeeds", "\n\r\n\rHello", nullptr,
                   kHeader + "\r\nHello"},
        FormatCase{"MixedLineBreaksBecomeCrLf", "a\nb\rc\r\nd", nullptr,
                   kHeader + "a\r\nb\r\nc\r\nd"},
        FormatCase{"InnerEmptyLinesStay", "one\n\ntwo\r\r", nullptr, kHeader + "one\r\n\r\ntwo"},
        FormatCase{"NulBytesAreDropped", "He\0llo\0"s, nullptr, kHeader + "Hello"},
        FormatCase{"NulBetweenCrAndLfMakesOneBreak", "a\r\0\nb"s, nullptr, kHeader + "a\r\nb"},
        FormatCase{"NulDoesNotShieldTrailingBlanks", "A \0\r\n"s, nullptr, kHeader + "A"},
        FormatCase{"EmptyTextWritesNothing", "", "Grid", ""},
        FormatCase{"NulBytesOnlyWriteNothing", "\0\0"s, "Grid", ""}),
    [](const auto& info) { return std::string(info.param.name); });

class RecordLayoutTest : public testing::LogFixture {};

TEST_F(RecordLayoutTest, RecordsAreSeparatedByOneEmptyLineAndHeadersPadEveryField) {
  LogToDisk();
  SetClock(0, 0, 0, 0);
  log.logDebug("first", "T");
  SetClock(23, 59, 59, 999);
  log.logDebug("second\n", nullptr);
  EXPECT_EQ(DayFile(), "\r\n\r\n#00:00:00.000#T# first\r\n\r\n#23:59:59.999## second");
}

TEST_F(RecordLayoutTest, DebuggerGetsTheRecordWithoutItsFirstBreakAndWithAFinalOne) {
  LogToDisk();
  log.logDebug("Client started", "Grid");
  log.logDebug("\n\n\n\nHello", nullptr);
  const auto output = fake.texts.DebugOutput();
  ASSERT_EQ(output.size(), 2u);
  EXPECT_EQ(output[0], "\r\n#09:05:03.007#Grid# Client started\r\n");
  EXPECT_EQ(output[1], "\r\n" + kHeader + "\r\nHello\r\n");
}

TEST_F(RecordLayoutTest, EmptyTextReachesNobody) {
  LogToDisk();
  log.setLogTrace(true);
  log.logDebug("", "Grid");
  EXPECT_TRUE(fake.texts.DebugOutput().empty());
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_FALSE(fake.files.Exists(kDayFile));
  EXPECT_TRUE(fake.files.Opens().empty());
}

}  // namespace
}  // namespace keldran
