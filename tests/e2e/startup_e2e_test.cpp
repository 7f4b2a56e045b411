// The real executable's refusals under Wine: full exit codes, exit-notice boxes, log records and
// the registration check against the real registry; the other refusals are the native tests'.
#include <gtest/gtest.h>

#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

// Every refusal ends with the full E_FAIL and, unless quiet, the exit notice as a box; those after
// the INI file was read are also logged under their banner, tagged with the component.
TEST(StartupE2eTest, RefusalsEndWithEFailTheirExitNoticeAndTheirLogRecord) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Write("host.ini", "[Service]\r\nLogDir=" + dir.path() +
                                        "\r\nCommandLine=C:\\windows\\system32\\cmd.exe\r\n"));
  RunOptions options;
  options.handleBoxes = true;
  options.timeoutMs = 60000;
  RunResult result = RunProgram("\"" + AgentExePath() + "\" E2eStart@missing.ini", options);
  EXPECT_EQ(result.exitCode, 0x80004005u);
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].caption, "Keldran  Service");
  EXPECT_EQ(result.boxes[0].text, "Cannot find INI file: " + ExeDir() + "\\missing.ini");

  result = RunProgram("\"" + AgentExePath() + "\" \"E2eStart@" + dir.File("host.ini") + "\" /Quiet",
                      options);
  EXPECT_EQ(result.exitCode, 0x80004005u);
  EXPECT_TRUE(result.boxes.empty());
  std::string log = ReadTodaysLog(dir.path()) + "\n";
  std::erase(log, '\r');
  EXPECT_NE(log.find("#E2eStart# ==================== ERROR.Log ====================\n\n"
                     "Startup failed: Service not installed.\n\nRun KeldranService with /RegServ, "
                     "/RegApp, or /Reg option.\n"),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace keldran::test
