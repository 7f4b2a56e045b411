// Which installer values reach the working INI file, and in what form.
#include "install/install_settings.h"

#include <gtest/gtest.h>

namespace keldran {
namespace {

TEST(InstallSettingsTest, NewFileTakesTheGivenValuesAnExistingOneOnlyWhenReplaced) {
  const std::vector<IniSetting> given = {{"Timeout", "30"}, {"LogDir", ""}, {"AutoStart", "0"}};
  const std::vector<IniSetting> written = {{"Timeout", "30"}, {"AutoStart", "0"}};
  EXPECT_EQ(SettingsToWrite(given, true, false), written);
  EXPECT_EQ(SettingsToWrite(given, false, true), written);
  EXPECT_EQ(SettingsToWrite(given, false, false), std::vector<IniSetting>{});
}

// The profile functions drop one pair of quotes around a whole value.
TEST(InstallSettingsTest, ValuesReadBackAsGiven) {
  struct Case {
    std::string value, text;
  } cases[] = {
      {R"("C:\P F\c.exe" /a "b")", R"(""C:\P F\c.exe" /a "b"")"},
      {R"("C:\P F\c.exe" /a)", R"("C:\P F\c.exe" /a)"},
      {"\"", "\""},
  };
  for (const auto& c : cases) EXPECT_EQ(ProfileText(c.value), c.text) << c.value;
}

}  // namespace
}  // namespace keldran
