#include "supervision/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

// The fake's CreateProcess takes an unquoted program path up to its first blank, so the
// executable lives in a directory without one.
constexpr const char* kModuleDir = "D:\\Keldran";
constexpr const char* kClientExe = "D:\\Keldran\\client.exe";

class ProcessTest : public ::testing::Test {
 protected:
  ProcessTest() { fake.processes.SetModuleFileName("D:\\Keldran\\KeldranGridAgent.exe"); }

  fake::FakePlatform fake;
  Process process{fake.platform()};
};

// ---- Path macros ------------------------------------------------------------------------------

TEST_F(ProcessTest, RootDirDropsATrailingBinOnlyFromSixCharactersOn) {
  const struct {
    const char* workingDir;
    const char* root;
  } cases[] = {
      {"D:\\Prog\\BIN", "D:\\Prog"},                // any case
      {"D:\\Apps\\Grid\\bin\\", "D:\\Apps\\Grid"},  // one trailing backslash first
      {"D:\\Apps\\Grid\\", "D:\\Apps\\Grid"},
      {"D:\\a\\b", "D:\\a\\b"},
      {"D:\\bin", "D:"},                   // six characters: cut
      {"a\\bin", "a\\bin"},                // five: left alone
      {"D:\\", "D:\\"},                    // short texts keep their backslash
      {"D:\\cabin", "D:\\cabin"},          // "bin" without its backslash is part of a name
      {"D:\\x\\bin\\\\", "D:\\x\\bin\\"},  // only one backslash is dropped
      {"", kModuleDir},                    // none: the executable's directory again
  };
  for (const auto& c : cases) {
    process.SetWorkingDir(c.workingDir);
    EXPECT_EQ(process.RootDir(), c.root) << c.workingDir;
    EXPECT_EQ(process.ExpandFileMacros("%ROOTDIR%"), c.root) << c.workingDir;
  }
}

// A working directory written with the macros, as the configuration's default gives it for a
// client named "%DIR%\client.exe", means the executable's directory too.
TEST_F(ProcessTest, WithoutAWorkingDirectoryOrInsideOneTheMacrosMeanTheExecutablesDirectory) {
  EXPECT_EQ(process.BaseDir(), kModuleDir);
  EXPECT_EQ(process.ExpandFileMacros("%DIR%\\client.exe /x"), std::string(kClientExe) + " /x");
  EXPECT_EQ(process.RootDir(), kModuleDir);

  fake.processes.SetModuleFileName("D:\\Grid\\Bin\\KeldranGridAgent.exe");
  fake.processes.AddProgram("D:\\Grid\\Bin\\client.exe", {});
  Process inBin(fake.platform());
  EXPECT_EQ(inBin.ExpandFileMacros("%ROOTDIR%\\data"), "D:\\Grid\\data");
  inBin.SetWorkingDir("%ROOTDIR%\\data");
  EXPECT_EQ(inBin.BaseDir(), "D:\\Grid\\data");
  EXPECT_EQ(inBin.RootDir(), "D:\\Grid\\data");
  inBin.SetWorkingDir("%DIR%");
  ASSERT_TRUE(inBin.Start("%DIR%\\client.exe /x", show_window::kHide));
  EXPECT_EQ(fake.processes.LastChild()->currentDirectory, "D:\\Grid\\Bin");
  EXPECT_EQ(fake.processes.LastChild()->commandLine, "D:\\Grid\\Bin\\client.exe /x");
  // Worked out once per object.
  EXPECT_EQ(process.BaseDir(), kModuleDir);
  // Inserted values are not scanned again.
  fake.processes.SetModuleFileName("D:\\%ROOTDIR%\\50%\\KeldranGridAgent.exe");
  Process odd(fake.platform());
  EXPECT_EQ(odd.ExpandFileMacros("%DIR%\\x"), "D:\\%ROOTDIR%\\50%\\x");
}

TEST_F(ProcessTest, MacroNamesAreExactAndEverythingElseIsKept) {
  process.SetWorkingDir("D:\\Grid\\bin");
  const struct {
    const char* input;
    const char* expanded;
  } cases[] = {
      {"%DIR%\\c.exe", "D:\\Grid\\bin\\c.exe"},
      {"%ROOTDIR%\\data\\%DIR%", "D:\\Grid\\data\\D:\\Grid\\bin"},
      {"%TEMP%\\x", "%TEMP%\\x"},  // no environment lookup
      {"%dir%\\x", "%dir%\\x"},    // case matters
      {"%Dir%", "%Dir%"},
      {"100% done", "100 done"},  // a lone sign is dropped
      {"50%", "50"},
      {"%", ""},
      {"%%", "%%"},  // an empty name is kept as written
      {"a%%b%DIR%", "a%%bD:\\Grid\\bin"},
      {"%DIR%%", "D:\\Grid\\bin"},
      {"%X%DIR%", "%X%DIR"},  // the closing sign of one name does not open the next
      {"no macros", "no macros"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(process.ExpandFileMacros(c.input), c.expanded) << c.input;
  }
}

TEST_F(ProcessTest, WorkingDirectoryKeepsAtMost259Characters) {
  const std::string fits = "D:\\" + std::string(252, 'f') + "\\bin";  // 259 characters
  ASSERT_EQ(fits.size(), 259u);
  process.SetWorkingDir(fits);
  EXPECT_EQ(process.BaseDir(), fits);
  EXPECT_EQ(process.RootDir(), fits.substr(0, 255));

  const std::string tooLong = fits + "\\more";
  process.SetWorkingDir(tooLong);
  EXPECT_EQ(process.BaseDir(), fits);
  EXPECT_EQ(process.RootDir(), fits.substr(0, 255));

  process.SetWorkingDir(std::string(1000, 'x'));
  EXPECT_EQ(process.BaseDir().size(), 259u);
  EXPECT_EQ(process.ExpandFileMacros("%DIR%").size(), 259u);
}

// ---- The child --------------------------------------------------------------------------------

// The command's expansion, the show state and the environment block reach the child as
// ClientLaunchTest holds them.
TEST_F(ProcessTest, StartRunsInTheWorkingDirectoryAndFindsAnUnquotedProgramPathWithBlanks) {
  fake.processes.AddProgram("D:\\Work\\tool.exe", {});
  process.SetWorkingDir("D:\\Work");
  ASSERT_TRUE(process.Start("%DIR%\\tool.exe", show_window::kHide));
  EXPECT_EQ(fake.processes.LastChild()->currentDirectory, "D:\\Work");
  EXPECT_EQ(process.processId(), fake.processes.LastChild()->processId);

  fake.processes.SetModuleFileName("C:\\Program Files\\Keldran\\KeldranGridAgent.exe");
  fake.processes.AddProgram("C:\\Program Files\\Keldran\\client.exe", {});
  Process inProgramFiles(fake.platform());
  ASSERT_TRUE(inProgramFiles.Start("%DIR%\\client.exe -x", show_window::kShow));
  EXPECT_EQ(fake.processes.LastChild()->program, "C:\\Program Files\\Keldran\\client.exe");
}

TEST_F(ProcessTest, RunningChildIsWaitedForUntilItEndsOrIsKilledWith1460) {
  // Before any start there is nothing to wait for or kill.
  EXPECT_TRUE(process.HasEnded());
  auto before = fake.clock.Elapsed();
  EXPECT_TRUE(process.WaitForEnd(kInfinite));
  EXPECT_EQ(fake.clock.Elapsed(), before);
  process.Terminate(1460);
  EXPECT_FALSE(process.hasChild());
  EXPECT_EQ(process.LastResult(), 0);

  fake.processes.AddProgram(kClientExe, {});
  ASSERT_TRUE(process.Start("%DIR%\\client.exe", show_window::kShow));
  EXPECT_FALSE(process.HasEnded());
  before = fake.clock.Elapsed();
  EXPECT_FALSE(process.WaitForEnd(5000));
  EXPECT_EQ(fake.clock.Elapsed() - before, 5000u);
  // A failed wait counts as ended for WaitForEnd, but as running for HasEnded.
  fake.faults.Fail("WaitForSingleObject", win32_error::kInvalidHandle, -1);
  EXPECT_TRUE(process.WaitForEnd(30000));
  EXPECT_FALSE(process.HasEnded());
  fake.faults.Clear("WaitForSingleObject");
  process.Terminate(1460);
  EXPECT_TRUE(process.HasEnded());
  EXPECT_TRUE(process.WaitForEnd(0));
  EXPECT_TRUE(fake.processes.LastChild()->terminated);
  EXPECT_EQ(fake.processes.LastChild()->exitCode, 1460u);

  // A child that exits by itself ends the wait then.
  fake.processes.AddProgram(kClientExe, fake::FakeProgram::ExitsAfter(3000, 7));
  ASSERT_TRUE(process.Start("%DIR%\\client.exe", show_window::kShow));
  before = fake.clock.Elapsed();
  EXPECT_TRUE(process.WaitForEnd(30000));
  EXPECT_EQ(fake.clock.Elapsed() - before, 3000u);
  EXPECT_TRUE(process.HasEnded());
}

TEST_F(ProcessTest, FailedStartReportsTheErrorAndKeepsItInLastResultAndTheEarlierChild) {
  Win32Error error = 0;
  EXPECT_FALSE(process.Start("%DIR%\\missing.exe -a", show_window::kShow, &error));
  EXPECT_EQ(error, win32_error::kFileNotFound);
  EXPECT_EQ(process.LastResult(), static_cast<HResult>(0x80070002u));
  EXPECT_TRUE(process.HasEnded());

  fake.faults.Fail("CreateProcess", win32_error::kAccessDenied);
  EXPECT_FALSE(process.Start("%DIR%\\missing.exe", show_window::kShow));  // no out parameter
  EXPECT_EQ(process.LastResult(), static_cast<HResult>(0x80070005u));

  // A later success leaves the recorded failure alone; a failed restart, the earlier child.
  fake.processes.AddProgram(kClientExe, {});
  ASSERT_TRUE(process.Start("%DIR%\\client.exe", show_window::kShow, &error));
  EXPECT_EQ(process.LastResult(), static_cast<HResult>(0x80070005u));
  const std::uint32_t first = process.processId();
  EXPECT_FALSE(process.Start("%DIR%\\missing.exe", show_window::kShow));
  EXPECT_EQ(process.processId(), first);
  EXPECT_FALSE(process.HasEnded());
  process.Terminate(1460);
  EXPECT_TRUE(process.HasEnded());
}

// ---- The child's job ---------------------------------------------------------------------------

TEST_F(ProcessTest, ChildRunsInAJobThatEndsWhatIsLeftOfItWithTheLastHandle) {
  fake.processes.AddProgram(kClientExe, {});
  ASSERT_TRUE(process.Start("%DIR%\\client.exe", show_window::kHide));
  const auto first = fake.processes.LastChild();
  EXPECT_TRUE(first->inJob);
  EXPECT_FALSE(first->suspended);
  EXPECT_EQ(process.JobError(), 0u);

  // A waiter keeps the replaced child's job, and so the child, until it lets go.
  SharedProcessHandle waiter = process.Handle();
  ASSERT_TRUE(process.Start("%DIR%\\client.exe", show_window::kHide));
  EXPECT_TRUE(fake.processes.Children()[0].running);
  waiter.reset();
  EXPECT_FALSE(fake.processes.Children()[0].running);
  EXPECT_TRUE(fake.processes.Children()[0].terminated);
  EXPECT_TRUE(fake.processes.Children()[1].running);
}

TEST_F(ProcessTest, ChildThatCannotJoinItsJobStillRunsAndOneThatCannotResumeIsKilled) {
  fake.processes.AddProgram(kClientExe, {});
  fake.faults.Fail("AssignProcessToJobObject", win32_error::kAccessDenied);
  ASSERT_TRUE(process.Start("%DIR%\\client.exe", show_window::kHide));
  EXPECT_EQ(process.JobError(), win32_error::kAccessDenied);
  EXPECT_FALSE(fake.processes.LastChild()->inJob);
  EXPECT_FALSE(fake.processes.LastChild()->suspended);
  EXPECT_EQ(fake.processes.OpenHandleCount(), 2u);  // no job left open

  fake.faults.Fail("ResumeThread", win32_error::kAccessDenied);
  Win32Error error = 0;
  EXPECT_FALSE(process.Start("%DIR%\\client.exe", show_window::kHide, &error));
  EXPECT_EQ(error, win32_error::kAccessDenied);
  EXPECT_TRUE(fake.processes.LastChild()->terminated);
  EXPECT_EQ(fake.processes.OpenHandleCount(), 2u);  // the earlier child's, still known
  EXPECT_EQ(process.processId(), fake.processes.Children()[0].processId);
}

TEST_F(ProcessTest, RestartsLeaveOnlyTheCurrentChildsHandlesOpenAndTheObjectsEndKillsIt) {
  fake.processes.AddProgram(kClientExe, {});
  auto scoped = std::make_unique<Process>(fake.platform());
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(scoped->Start("%DIR%\\client.exe", show_window::kHide));
    scoped->Terminate(1460);
  }
  ASSERT_TRUE(scoped->Start("%DIR%\\client.exe", show_window::kHide));
  EXPECT_EQ(fake.processes.OpenHandleCount(), 3u);  // process, thread, job
  EXPECT_EQ(fake.processes.Children().size(), 1001u);
  scoped.reset();
  EXPECT_TRUE(fake.processes.LastChild()->terminated);
  EXPECT_EQ(fake.processes.LastChild()->exitCode, 1460u);
  EXPECT_EQ(fake.processes.OpenHandleCount(), 0u);
}

// The service control handler waits for the client on its own thread while the run loop may
// start a new one: the wait must see a whole handle, old or new, never one being closed.
TEST_F(ProcessTest, AWaitOnAnotherThreadSurvivesARestart) {
  fake.processes.AddProgram(kClientExe, {});
  ASSERT_TRUE(process.Start(kClientExe, show_window::kHide));
  std::atomic<bool> stop{false};
  std::thread restarter([&] {
    while (!stop) (void)process.Start(kClientExe, show_window::kHide);
  });
  for (int i = 0; i < 200; ++i) EXPECT_FALSE(process.WaitForEnd(1));
  stop = true;
  restarter.join();
  EXPECT_EQ(fake.processes.OpenHandleCount(), 3u);  // process, thread, job
}

}  // namespace
}  // namespace keldran
