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
  ~StartupE2eTest() override {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, (kServicesKey + component_ + "NoId").c_str());
  }

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

// Every refusal ends with the full E_FAIL and, unless quiet, the exit notice as a box; those after
// the INI file was read are also logged under their banner, tagged with the component.
TEST_F(StartupE2eTest, RefusalsEndWithEFailTheirExitNoticeAndTheirLogRecord) {
  const DWORD zero = 0;
  ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, (kServicesKey + component_ + "NoId").c_str(),
                            "LocalService", REG_DWORD, &zero, sizeof zero),
            ERROR_SUCCESS);
  const std::string quiet = ComponentWithIni() + " /Quiet ";
  const std::string conflict = "Invalid command line parameter: You cannot code ";
  struct Case {
    std::string arguments;
    std::string caption;  // empty: no box
    std::string text;
    bool logged;
  } cases[] = {
      {"/Bogus", "Keldran  Service", "Invalid command line parameter: Option /Bogus not recognized",
       false},
      {"/Quiet /Timeout=5s", "", "", false},
      {component_ + "@missing.ini", "Keldran  Service",
       "Cannot find INI file: " + ExeDir() + "\\missing.ini", false},
      {"\"" + component_ + "NoId@" + dir_.File("host.ini") + "\"",
       "Keldran Grid Agent 3.21 (" + component_ + "NoId)",
       "Startup failed: Registry entry \"HKEY_CLASSES_ROOT\\" + std::string(kServicesKey) +
           component_ + "NoId\\ServiceID\" not found",
       false},
      {quiet + "/UnReg /RegApp", "", conflict + "/UnReg and /RegApp  options together", true},
      {quiet, "",
       "Startup failed: Service not installed.\n\nRun KeldranService with /RegServ, /RegApp, or "
       "/Reg option.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    RunResult result = Agent(c.arguments);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, kEFail);
    ASSERT_EQ(result.boxes.size(), c.caption.empty() ? 0u : 1u);
    if (!c.caption.empty()) {
      EXPECT_EQ(result.boxes[0].caption, c.caption);
      EXPECT_EQ(Unix(result.boxes[0].text), c.text);
    }
    if (c.logged) {
      const std::string expected = "#" + component_ +
                                   "# ==================== ERROR.Log ====================\n\n" +
                                   c.text + "\n";
      EXPECT_NE((Log() + "\n").find(expected), std::string::npos) << Log();
    }
  }
}

}  // namespace
}  // namespace keldran::test
