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
  std::string ComponentWithIni() const {
    return "\"" + component_ + "@" + dir_.File("host.ini") + "\"";
  }
  std::string Log() const { return Unix(ReadTodaysLog(dir_.path())); }

  ScratchDir dir_;
  std::string component_;
};

// Every refusal ends with the full E_FAIL and, unless quiet, the exit notice as a box.
TEST_F(StartupE2eTest, RefusalsEndWithEFailAndTheirExitNotice) {
  ASSERT_EQ(CreateRegKey(HKEY_CLASSES_ROOT, kServicesKey + component_ + "NoId",
                         {RegValue::Dword("LocalService", 0)}),
            0);
  struct Case {
    std::string arguments;
    std::string caption;  // empty: no box
    std::string text;
  } cases[] = {
      {"/Bogus", "Keldran  Service",
       "Invalid command line parameter: Option /Bogus not recognized"},
      {"/Quiet /Timeout=5s", "", ""},
      {component_ + "@missing.ini", "Keldran  Service",
       "Cannot find INI file: " + ExeDir() + "\\missing.ini"},
      {"\"" + component_ + "NoId@" + dir_.File("host.ini") + "\"",
       "Keldran Grid Agent 3.21 (" + component_ + "NoId)",
       "Startup failed: Registry entry \"HKEY_CLASSES_ROOT\\" + std::string(kServicesKey) +
           component_ + "NoId\\ServiceID\" not found"},
  };
  for (const Case& c : cases) {
    RunResult result = Agent(c.arguments);
    ASSERT_TRUE(result.started) << c.arguments;
    EXPECT_EQ(result.exitCode, kEFail) << c.arguments;
    ASSERT_EQ(result.boxes.size(), c.caption.empty() ? 0u : 1u) << c.arguments;
    if (c.caption.empty()) continue;
    EXPECT_EQ(result.boxes[0].caption, c.caption);
    EXPECT_EQ(Unix(result.boxes[0].text), c.text);
  }
  (void)DeleteRegTree(HKEY_CLASSES_ROOT, kServicesKey + component_ + "NoId");
}

// Refusals after the INI file was read: option conflicts, and a component never registered.
TEST_F(StartupE2eTest, LaterRefusalsAreLoggedWithTheirBannerAndText) {
  struct Case {
    const char* options;
    const char* text;
  } cases[] = {
      {"/UnReg /RegApp",
       "Invalid command line parameter: You cannot code /UnReg and /RegApp  options together"},
      {"/Start /Stop",
       "Invalid command line parameter: You cannot code /Start option together with /Stop"},
      {"/Start /Debug",
       "Invalid command line parameter: You cannot code /Start option together with /Debug"},
      {"",
       "Startup failed: Service not installed.\n\nRun KeldranService with /RegServ, /RegApp, or "
       "/Reg option."},
  };
  for (const auto& c : cases) {
    RunResult result = Agent(ComponentWithIni() + " /Quiet " + c.options);
    EXPECT_EQ(result.exitCode, kEFail) << c.options;
    EXPECT_TRUE(result.boxes.empty()) << c.options;
    const std::string expected =
        "# ==================== ERROR.Log ====================\n\n" + std::string(c.text) + "\n";
    EXPECT_NE((Log() + "\n").find(expected), std::string::npos) << c.options << "\n" << Log();
  }
  // The tag of each record is the component.
  EXPECT_NE(Log().find("#" + component_ + "# ===="), std::string::npos);
}

}  // namespace
}  // namespace keldran::test
