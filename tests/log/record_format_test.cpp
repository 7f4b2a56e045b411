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
      // The header buffer holds 259 characters: a longer tag is cut to fit.
      {"TagIsCutTo239Characters", "b", longTag.c_str(), "\r\n\r\n#09:05:03.007#" + tag239 + "# b"},
      {"BlanksOnlyStayAsTheyAre", "   ", nullptr, kHeader + "   "},
      {"LineBreaksOnlyStayNormalised", "\n\n\r", nullptr, kHeader + "\r\n\r\n\r\n"},
      {"TrailingMixtureGoes", "Done  \r\n \n\r", nullptr, kHeader + "Done"},
      {"LeadingBlanksGo", "   Hello", nullptr, kHeader + "Hello"},
      {"CrLfIsDropped", "\r\nHello", nullptr, kHeader + "Hello"},
      {"TwoLineFeedsStartTheTextBelowTheHeader", "\n\nHello", nullptr, kHeader + "\r\nHello"},
      {"FourLineFeedsPutTwoBreaksBeforeTheHeader", "\n\n\n\nHello", nullptr,
       "\r\n\r\n" + kHeader + "\r\nHello"},
      {"ThreeBreaksAndABlank", "\n\n\n Hello", "Grid", "\r\n" + kGridHeader + "Hello"},
      {"MixedBreaksCountTheirLineFeeds", "\n\r\n\rHello", nullptr, kHeader + "\r\nHello"},
      {"MixedLineBreaksBecomeCrLf", "a\nb\rc\r\nd", nullptr, kHeader + "a\r\nb\r\nc\r\nd"},
      {"NulBetweenCrAndLfMakesOneBreak", "a\r\0\nb"s, nullptr, kHeader + "a\r\nb"},
      {"NulDoesNotShieldTrailingBlanks", "A \0\r\n"s, nullptr, kHeader + "A"},
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

TEST_F(RecordFormatTest, HundredThousandCharactersOrHugeEventStringsAreWrittenWhole) {
  LogToDisk();
  log.setLogTrace(true);
  const std::string text(100000, 'x');
  log.logDebug(text, "Grid");
  EXPECT_EQ(DayFile(), kGridHeader + text);
  EXPECT_EQ(fake.eventLog.Events().at(0).strings.at(0).size(), 4 + 20 + text.size() + 2);

  // An event's huge strings are joined whole.
  fake.eventLog.Clear();
  const std::string huge(100000, 'h');
  const char* strings[] = {huge.c_str(), "\0tail", huge.c_str(), nullptr};
  log.logEvent(event_type::kError, 3, 116, strings, 4, nullptr);
  EXPECT_EQ(fake.eventLog.Events().at(0).strings.at(0).size(), 200001u);
  EXPECT_TRUE(FailureEvents().empty());
}

TEST_F(RecordFormatTest, FailureMessageAndEventSourceNameAreCutWithoutOverflow) {
  const std::string detail(5000, 'm');
  log.logFail(Log::kLogFileFailure, "Could not write %s", detail.c_str());
  EXPECT_EQ(FailureEvents().at(0).strings.at(0), ("Could not write " + detail).substr(0, 779));

  log.setEventSourceName(std::string(1000, 's'));
  EXPECT_EQ(log.eventSourceName(), std::string(259, 's'));
}

}  // namespace
}  // namespace keldran
