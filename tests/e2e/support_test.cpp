// What every end-to-end test relies on: a program's full exit code and its message boxes, and
// run_exit_code.exe, through which shell scripts read the same.
#include <gtest/gtest.h>

#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

std::string BoxHelper() { return "\"" + ProgramPath("box_helper.exe") + "\""; }

TEST(RunProgramTest, ReturnsTheFullExitCodeAndDismissesEachBox) {
  RunOptions options;
  options.handleBoxes = true;
  options.timeoutMs = 20000;
  // Wider than the 8 bits that wine64's own exit status carries.
  RunResult result =
      RunProgram(BoxHelper() + " 0x80004005 \"Box caption\" \"first line\\nsecond line\"", options);
  ASSERT_TRUE(result.started) << result.startError;
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0x80004005u);
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].caption, "Box caption");
  EXPECT_EQ(result.boxes[0].text, "first line\nsecond line");
}

TEST(RunExitCodeToolTest, PrintsTheFullCodeAndEachDismissedBox) {
  ScratchDir dir;
  RunOptions options;
  options.outputFile = dir.File("stdout.txt");
  const std::string tool = "\"" + ProgramPath("run_exit_code.exe") + "\"";
  RunResult result = RunProgram(
      tool + " --dismiss-boxes -- " + BoxHelper() + " 0x80004005 \"Box caption\" \"two\\nlines\"",
      options);
  ASSERT_TRUE(result.started) << result.startError;
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(dir.Read("stdout.txt"),
            "box caption: Box caption\n"
            "box text: two\\nlines\n"
            "exit code: 0x80004005 (2147500037)\n");

  // Not dismissed, the box blocks until the time-out kills the program.
  result = RunProgram(tool + " --timeout-ms 300 -- " + BoxHelper() + " 5 Blocking text", options);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(dir.Read("stdout.txt"), "timeout: killed after 300 ms\n");

  EXPECT_EQ(RunProgram(tool + " -- no_such_program.exe", options).exitCode, 2u);
  EXPECT_EQ(RunProgram(tool + " --bogus", options).exitCode, 2u);
}

}  // namespace
}  // namespace keldran::test
