// Input beyond the writer's buffers: long texts, tags, directories, failure messages and event
// source names are cut or refused where the buffers end, and nothing writes past one (the native
// build runs under ASan).
#include <gtest/gtest.h>

#include <string>

#include "support/log_fixture.h"

namespace keldran {
namespace {

using namespace std::string_literals;
using BadInputTest = testing::LogFixture;

TEST_F(BadInputTest, HundredThousandCharacterTextIsWrittenWhole) {
  LogToDisk();
  log.setLogTrace(true);
  const std::string text(100000, 'x');
  log.logDebug(text, "Grid");
  EXPECT_EQ(DayFile(), "\r\n\r\n#09:05:03.007#Grid# " + text);
  EXPECT_EQ(fake.eventLog.Events().at(0).strings.at(0).size(), 4 + 20 + text.size() + 2);
}

TEST_F(BadInputTest, HundredThousandLineBreaksBeforeAWordOrAmongNuls) {
  LogToDisk();
  log.logDebug(std::string(100000, '\n') + "end", nullptr);
  // Two of the breaks are absorbed by the header, the rest come before it.
  std::string expected;
  for (int i = 0; i < 99998; ++i) expected += "\r\n";
  expected += "\r\n\r\n#09:05:03.007## \r\nend";
  EXPECT_EQ(DayFile(), expected);
  log.logDebug("\0\r\0\n\0"s, nullptr);
  EXPECT_EQ(DayFile(), expected + "\r\n\r\n#09:05:03.007## \r\n");
}

TEST_F(BadInputTest, TagIsCutTo239CharactersSoTheHeaderFills259) {
  LogToDisk();
  const std::string tag239(239, 't');
  log.logDebug("a", tag239.c_str());
  log.logDebug("b", (tag239 + "overflow").c_str());
  const std::string header = "\r\n\r\n#09:05:03.007#" + tag239 + "# ";
  ASSERT_EQ(header.size(), 259u);
  EXPECT_EQ(DayFile(), header + "a" + header + "b");
}

TEST_F(BadInputTest, FailureMessageIsCutTo779Characters) {
  LogToDisk();
  const std::string detail(5000, 'm');
  log.logFail(Log::kLogFileFailure, "Could not write %s", detail.c_str());
  const std::string reported = FailureEvents().at(0).strings.at(0);
  EXPECT_EQ(reported.size(), 779u);
  EXPECT_EQ(reported, ("Could not write " + detail).substr(0, 779));
}

TEST_F(BadInputTest, VeryLongDirectoryAndEventSourceNameAreRefusedOrCutWithoutOverflow) {
  const std::string dir(100000, 'd');
  log.setLogDir(dir.c_str());
  EXPECT_FALSE(log.fileLoggingOn());
  EXPECT_EQ(FailureEvents().at(0).strings.at(0).size(), 779u);
  log.logDebug("x", nullptr);
  EXPECT_TRUE(fake.files.Opens().empty());
  log.setEventSourceName(std::string(1000, 's'));
  EXPECT_EQ(log.eventSourceName(), std::string(259, 's'));
}

TEST_F(BadInputTest, EventWithoutStringArrayOrWithHugeStrings) {
  LogToDisk();
  log.logEvent(event_type::kError, 3, 116, nullptr, 4, nullptr);
  EXPECT_EQ(fake.eventLog.Events().at(0).strings, std::vector<std::string>{""});

  const std::string huge(100000, 'h');
  const char* strings[] = {huge.c_str(), "\0tail", huge.c_str(), nullptr};
  log.logEvent(event_type::kError, 3, 116, strings, 4, nullptr);
  EXPECT_EQ(fake.eventLog.Events().at(1).strings.at(0).size(), 200001u);
  EXPECT_TRUE(FailureEvents().empty());
}

}  // namespace
}  // namespace keldran
