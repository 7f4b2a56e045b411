// The real executable's refusals under Wine: full exit codes, exit-notice boxes, log records and
// the registration checks against the real registry; the other refusals are the native tests'.
#include <gtest/gtest.h>

#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

constexpr const char* kServicesKey = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\";

// Every refusal ends with the full E_FAIL and, unless quiet, the exit notice as a box; those after
// the INI file was read are also logged under their banner, tagged with the component.
TEST(StartupE2eTest, RefusalsEndWithEFailTheirExitNoticeAndTheirLogRecord) {
  ScratchDir dir;
  const std::string component = "E2eStartRefusals", noId = component + "NoId";
  ASSERT_TRUE(dir.Write("host.ini", "[Service]\r\nLogDir=" + dir.path() +
                                        "\r\nCommandLine=C:\\windows\\system32\\cmd.exe\r\n"));
  const DWORD zero = 0;
  ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, (kServicesKey + noId).c_str(), "LocalService",
                            REG_DWORD, &zero, sizeof zero),
            ERROR_SUCCESS);
  struct Case {
    std::string arguments;
    std::string caption;  // empty: quiet, no box, logged
    std::string text;
  } cases[] = {
      {"/Bogus", "Keldran  Service",
       "Invalid command line parameter: Option /Bogus not recognized"},
      {component + "@missing.ini", "Keldran  Service",
       "Cannot find INI file: " + ExeDir() + "\\missing.ini"},
      {"\"" + noId + "@" + dir.File("host.ini") + "\"", "Keldran Grid Agent 3.21 (" + noId + ")",
       "Startup failed: Registry entry \"HKEY_CLASSES_ROOT\\" + std::string(kServicesKey) + noId +
           "\\ServiceID\" not found"},
      {"\"" + component + "@" + dir.File("host.ini") + "\" /Quiet", "",
       "Startup failed: Service not installed.\n\nRun KeldranService with /RegServ, /RegApp, or "
       "/Reg option."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    RunOptions options;
    options.handleBoxes = true;
    options.timeoutMs = 60000;
    const RunResult result = RunProgram("\"" + AgentExePath() + "\" " + c.arguments, options);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0x80004005u);
    ASSERT_EQ(result.boxes.size(), c.caption.empty() ? 0u : 1u);
    if (!c.caption.empty()) {
      EXPECT_EQ(result.boxes[0].caption, c.caption);
      std::string text = result.boxes[0].text;
      std::erase(text, '\r');
      EXPECT_EQ(text, c.text);
    } else {
      std::string log = ReadTodaysLog(dir.path()) + "\n";
      std::erase(log, '\r');
      EXPECT_NE(
          log.find("#" + component + "# ==================== ERROR.Log ====================\n\n" +
                   c.text + "\n"),
          std::string::npos)
          << log;
    }
  }
  RegDeleteTreeA(HKEY_CLASSES_ROOT, (kServicesKey + noId).c_str());
}

}  // namespace
}  // namespace keldran::test
