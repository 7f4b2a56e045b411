// The end-to-end helpers themselves: a wrong exit code, a missed message box or a leaked
// registry key here would make every end-to-end test lie.
#include <gtest/gtest.h>

#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

std::string BoxHelper() { return "\"" + ProgramPath("box_helper.exe") + "\""; }

TEST(RunTest, ReturnsTheFullExitCode) {
  RunResult small = test::Run("cmd.exe /c exit 7");
  ASSERT_TRUE(small.started) << small.startError;
  EXPECT_FALSE(small.timedOut);
  EXPECT_EQ(small.exitCode, 7u);

  // Wider than the 8 bits that wine64's own exit status carries.
  RunResult wide = test::Run(BoxHelper() + " 0x80004005");
  ASSERT_TRUE(wide.started) << wide.startError;
  EXPECT_EQ(wide.exitCode, 0x80004005u);
}

TEST(RunTest, ReportsAProgramThatCannotStart) {
  RunResult result = test::Run("\"" + ProgramPath("no_such_program.exe") + "\"");
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.startError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(RunTest, CollectsAndDismissesMessageBoxes) {
  RunOptions options;
  options.handleBoxes = true;
  options.timeoutMs = 20000;
  RunResult result =
      test::Run(BoxHelper() + " 5 \"Box caption\" \"first line\\nsecond line\"", options);
  ASSERT_TRUE(result.started) << result.startError;
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 5u);
  ASSERT_EQ(result.boxes.size(), 1u);
  EXPECT_EQ(result.boxes[0].caption, "Box caption");
  EXPECT_EQ(result.boxes[0].text, "first line\nsecond line");
}

TEST(RunTest, KillsAProgramThatOutlivesItsTimeout) {
  RunOptions options;
  options.timeoutMs = 300;  // the box is not handled: the helper blocks until killed
  RunResult result = test::Run(BoxHelper() + " 5 Blocking text", options);
  ASSERT_TRUE(result.started) << result.startError;
  EXPECT_TRUE(result.timedOut);
  EXPECT_NE(result.exitCode, 5u);
}

TEST(RunTest, UsesWorkingDirectoryAndEnvironmentAdditions) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  RunOptions options;
  options.workingDir = dir.path();
  options.environment = {{"KELDRAN_TEST_VALUE", "from-test"}, {"PATH", "C:\\windows\\system32"}};
  RunResult result = test::Run("cmd.exe /c echo %KELDRAN_TEST_VALUE%>seen.txt", options);
  ASSERT_TRUE(result.started) << result.startError;
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(dir.Read("seen.txt"), "from-test\r\n");
}

// run_exit_code.exe is how shell scripts read full exit codes and message boxes.
TEST(RunExitCodeToolTest, PrintsTheFullCodeAndEachDismissedBox) {
  ScratchDir dir;
  RunOptions options;
  options.outputFile = dir.File("stdout.txt");
  RunResult result = test::Run("\"" + ProgramPath("run_exit_code.exe") + "\" --dismiss-boxes -- " +
                                   BoxHelper() + " 0x80004005 \"Box caption\" \"two\\nlines\"",
                               options);
  ASSERT_TRUE(result.started) << result.startError;
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(dir.Read("stdout.txt"),
            "box caption: Box caption\n"
            "box text: two\\nlines\n"
            "exit code: 0x80004005 (2147500037)\n");

  result = test::Run("\"" + ProgramPath("run_exit_code.exe") + "\" --timeout-ms 300 -- " +
                         BoxHelper() + " 5 Blocking text",
                     options);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(dir.Read("stdout.txt"), "timeout: killed after 300 ms\n");

  result =
      test::Run("\"" + ProgramPath("run_exit_code.exe") + "\" -- no_such_program.exe", options);
  EXPECT_EQ(result.exitCode, 2u);
  result = test::Run("\"" + ProgramPath("run_exit_code.exe") + "\" --bogus", options);
  EXPECT_EQ(result.exitCode, 2u);
}

TEST(ChildProcessTest, RunsUntilKilledAndKeepsItsExitCode) {
  ChildProcess child;
  ASSERT_EQ(child.Start(BoxHelper() + " 5 Blocking text"), 0u);
  EXPECT_TRUE(child.IsRunning());
  EXPECT_EQ(child.ExitCode(), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_FALSE(child.WaitForExit(100));
  child.Kill(0xC0000005);
  EXPECT_FALSE(child.IsRunning());
  EXPECT_TRUE(child.WaitForExit(0));
  EXPECT_EQ(child.ExitCode(), 0xC0000005u);
}

TEST(ScratchDirTest, IsUniqueAndRemovedWithItsContent) {
  std::string kept;
  {
    ScratchDir a, b;
    ASSERT_FALSE(a.path().empty());
    EXPECT_NE(a.path(), b.path());
    ASSERT_TRUE(a.Write("sub\\deeper\\file.txt", "one\r\ntwo"));
    EXPECT_EQ(a.Read("sub\\deeper\\file.txt"), "one\r\ntwo");
    EXPECT_EQ(a.Read("missing.txt"), "");
    SetFileAttributesA(a.File("sub\\deeper\\file.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    kept = a.path();
  }
  EXPECT_FALSE(FileExists(kept));
}

TEST(RegistryTest, CreatesReadsAndDeletesAKeyTree) {
  char key[80];
  std::snprintf(key, sizeof key, "Software\\KeldranTest\\Support%lu",
                static_cast<unsigned long>(GetCurrentProcessId()));
  const std::string root = key;
  ASSERT_EQ(CreateRegKey(HKEY_CURRENT_USER, root,
                         {RegValue::String("Name", "value"), RegValue::Dword("Number", 0x80000001),
                          RegValue::String("", "default")}),
            ERROR_SUCCESS);
  ASSERT_EQ(CreateRegKey(HKEY_CURRENT_USER, root + "\\Child\\Grandchild"), ERROR_SUCCESS);

  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, root, "Name"), "value");
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, root, ""), "default");
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, root, "Number"), 0x80000001u);
  EXPECT_EQ(ReadRegDword(HKEY_CURRENT_USER, root, "Name"), std::nullopt);  // wrong type
  EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, root, "Missing"), std::nullopt);

  EXPECT_EQ(DeleteRegTree(HKEY_CURRENT_USER, root), ERROR_SUCCESS);
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, root));
  EXPECT_EQ(DeleteRegTree(HKEY_CURRENT_USER, root), ERROR_FILE_NOT_FOUND);
  (void)DeleteRegTree(HKEY_CURRENT_USER, "Software\\KeldranTest");
}

TEST(WaitUntilTest, ReturnsOnceThePredicateHoldsOrAfterTheTimeout) {
  int polls = 0;
  EXPECT_TRUE(WaitUntil([&] { return ++polls == 3; }, 5000, 1));
  EXPECT_EQ(polls, 3);

  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(WaitUntil([] { return false; }, 200, 10));
  EXPECT_GE(GetTickCount64() - start, 200u);
}

TEST(LogFileTest, ReadsTodaysLogByItsDateName) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char expected[32];
  std::snprintf(expected, sizeof expected, "%04i-%02i-%02i.log", now.wYear, now.wMonth, now.wDay);
  EXPECT_EQ(TodaysLogFileName(), expected);

  ScratchDir dir;
  EXPECT_EQ(ReadTodaysLog(dir.path()), "");
  ASSERT_TRUE(dir.Write(TodaysLogFileName(), "a record\r\n"));
  EXPECT_EQ(ReadTodaysLog(dir.path()), "a record\r\n");
}

}  // namespace
}  // namespace keldran::test
