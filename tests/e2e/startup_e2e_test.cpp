// The real executable's start-up under Wine: rejections with their full exit codes, their
// exit-notice boxes and their log records, and the registration checks against the real registry.
#include <gtest/gtest.h>

#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

constexpr DWORD kEFail = 0x80004005;
constexpr const char* kServicesKey = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\";

std::string Unix(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

class StartupE2eTest : public ::testing::Test {
 protected:
  // A component of its own with an INI file in the scratch directory that logs there.
  StartupE2eTest() {
    component_ =
        std::string("E2eStart") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    EXPECT_TRUE(dir_.Write("host.ini", "[Service]\r\nLogDir=" + dir_.path() +
                                           "\r\nCommandLine=C:\\windows\\system32\\cmd.exe\r\n"));
  }
  ~StartupE2eTest() override { (void)DeleteRegTree(HKEY_CLASSES_ROOT, kServicesKey + component_); }

  RunResult Agent(const std::string& arguments) {
    RunOptions options;
    options.handleBoxes = true;
    options.timeoutMs = 60000;
    return RunProgram("\"" + AgentExePath() + "\" " + arguments, options);
  }
  std::string ComponentWithIni() const { return component_ + "@" + dir_.File("host.ini"); }
  std::string Log() const { return Unix(ReadTodaysLog(dir_.path())); }

  ScratchDir dir_;
  std::string component_;
};

TEST_F(StartupE2eTest, ABadOptionEndsWithEFailAndAnErrorBoxUnderTheProvisionalCaption) {
  RunResult result = Agent("/Bogus");
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, kEFail);
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].caption, "Keldran  Service");
  EXPECT_EQ(result.boxes[0].text, "Invalid command line parameter: Option /Bogus not recognized");
}

TEST_F(StartupE2eTest, ABadValueIsRejectedAndAQuietRunShowsNothing) {
  RunResult result = Agent("/Quiet /Timeout=5s");
  EXPECT_EQ(result.exitCode, kEFail);
  EXPECT_TRUE(result.boxes.empty());
}

TEST_F(StartupE2eTest, CombinationConflictsAreLoggedWithTheirBannerAndText) {
  struct Case {
    const char* options;
    const char* text;
  } cases[] = {
      {"/UnReg /RegApp", "You cannot code /UnReg and /RegApp  options together"},
      {"/Start /Stop", "You cannot code /Start option together with /Stop"},
      {"/Start /Debug", "You cannot code /Start option together with /Debug"},
  };
  for (const auto& c : cases) {
    RunResult result = Agent(ComponentWithIni() + " /Quiet " + c.options);
    EXPECT_EQ(result.exitCode, kEFail) << c.options;
    EXPECT_TRUE(result.boxes.empty()) << c.options;
    const std::string expected =
        "# ==================== ERROR.Log ====================\n\n"
        "Invalid command line parameter: " +
        std::string(c.text) + "\n";
    EXPECT_NE((Log() + "\n").find(expected), std::string::npos) << c.options << "\n" << Log();
  }
  // The tag of each record is the component.
  EXPECT_NE(Log().find("#" + component_ + "# ===="), std::string::npos);
}

TEST_F(StartupE2eTest, AMissingIniFileIsNamedInTheExitNotice) {
  RunResult result = Agent(component_ + "@missing.ini");
  EXPECT_EQ(result.exitCode, kEFail);
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].text, "Cannot find INI file: " + ExeDir() + "\\missing.ini");
}

TEST_F(StartupE2eTest, AnUnregisteredComponentIsNotInstalled) {
  RunResult result = Agent(ComponentWithIni() + " /Quiet");
  EXPECT_EQ(result.exitCode, kEFail);
  EXPECT_NE(Log().find("Startup failed: Service not installed.\n\nRun KeldranService with "
                       "/RegServ, /RegApp, or /Reg option."),
            std::string::npos)
      << Log();
}

TEST_F(StartupE2eTest, ARegisteredComponentWithoutServiceIdNamesTheMissingValue) {
  ASSERT_EQ(CreateRegKey(HKEY_CLASSES_ROOT, kServicesKey + component_,
                         {RegValue::Dword("LocalService", 0)}),
            0);
  RunResult result = Agent(ComponentWithIni());
  EXPECT_EQ(result.exitCode, kEFail);
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].caption, "Keldran Grid Agent 3.21");
  EXPECT_EQ(Unix(result.boxes[0].text), "Startup failed: Registry entry \"HKEY_CLASSES_ROOT\\" +
                                            std::string(kServicesKey) + component_ +
                                            "\\ServiceID\" not found");
}

}  // namespace
}  // namespace keldran::test
