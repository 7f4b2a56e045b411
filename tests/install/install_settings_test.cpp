// Which installer values reach the working INI file and in what form, and when the commit starts
// the service.
#include "install/install_settings.h"

#include <gtest/gtest.h>

namespace keldran {
namespace {

TEST(InstallSettingsTest, NewFileTakesTheGivenValuesAnExistingOneOnlyWhenReplaced) {
  const std::vector<IniSetting> given = {{"Timeout", "30"}, {"LogDir", ""}, {"AutoStart", "0"}};
  const std::vector<IniSetting> written = {{"Timeout", "30"}, {"AutoStart", "0"}};
  struct Case {
    bool iniIsNew, replace;
    std::vector<IniSetting> expected;
  } cases[] = {
      {true, false, written},
      {true, true, written},
      {false, true, written},
      {false, false, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SettingsToWrite(given, c.iniIsNew, c.replace), c.expected) << c.iniIsNew << c.replace;
  }
}

// The profile functions drop one pair of quotes around a whole value.
TEST(InstallSettingsTest, ValuesReadBackAsGiven) {
  struct Case {
    std::string value, text;
  } cases[] = {
      {R"("C:\P F\c.exe")", R"(""C:\P F\c.exe"")"},
      {R"("C:\P F\c.exe" /a "b")", R"(""C:\P F\c.exe" /a "b"")"},
      {"'x'", "\"'x'\""},
      {R"("C:\P F\c.exe" /a)", R"("C:\P F\c.exe" /a)"},
      {"\"", "\""},
      {"5,30", "5,30"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProfileText(c.value), c.text) << c.value;
}

TEST(InstallSettingsTest, ServiceRunsAfterTheCommitWhenAutomaticOrWhenItRanBefore) {
  struct Case {
    std::int32_t autoStart;
    bool stoppedByCommit, upgrade, stoppedByRemoval, starts;
  } cases[] = {
      {1, false, false, false, true},
      {0, false, false, false, false},
      {0, true, false, false, true},
      {0, false, true, true, true},
      // A removal long ago that left its word behind is no upgrade.
      {0, false, false, true, false},
      {0, false, true, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StartsAfterCommit(c.autoStart, c.stoppedByCommit, c.upgrade, c.stoppedByRemoval),
              c.starts)
        << c.autoStart << c.stoppedByCommit << c.upgrade << c.stoppedByRemoval;
  }
}

}  // namespace
}  // namespace keldran
