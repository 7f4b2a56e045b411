// Process: the path macros over plain texts, and a child's start, wait, kill and job.
#include "supervision/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

constexpr const char* kModuleDir = "D:\\Keldran";
constexpr const char* kClientExe = "D:\\Keldran\\client.exe";

class ProcessTest : public ::testing::Test {
 protected:
  ProcessTest() {
    fake.processes.SetModuleFileName("D:\\Keldran\\KeldranGridAgent.exe");
    fake.processes.AddProgram(kClientExe, {});
  }
  bool Start(Process& p, Win32Error* error = nullptr) {
    return p.Start("%DIR%\\client.exe", show_window::kHide, error);
  }

  fake::FakePlatform fake;
  Process process{fake.platform()};
};

TEST_F(ProcessTest, TheWorkingDirectoryGivesDirAndRootDir) {
  const std::string fits = "D:\\" + std::string(252, 'f') + "\\bin";  // 259 characters
  const struct {
    std::string workingDir, base, root;
  } cases[] = {
      {"D:\\Prog\\BIN", "D:\\Prog\\BIN", "D:\\Prog"},                        // any case
      {"D:\\Apps\\Grid\\bin\\", "D:\\Apps\\Grid\\bin\\", "D:\\Apps\\Grid"},  // one backslash first
      {"D:\\Apps\\Grid\\", "D:\\Apps\\Grid\\", "D:\\Apps\\Grid"},
      {"D:\\a\\b", "D:\\a\\b", "D:\\a\\b"},
      {"D:\\bin", "D:\\bin", "D:"},             // six characters: cut
      {"a\\bin", "a\\bin", "a\\bin"},           // five: left alone
      {"D:\\", "D:\\", "D:\\"},                 // short texts keep their backslash
      {"D:\\cabin", "D:\\cabin", "D:\\cabin"},  // "bin" without its backslash is part of a name
      {"D:\\x\\bin\\\\", "D:\\x\\bin\\\\", "D:\\x\\bin\\"},  // only one backslash is dropped
      {"", kModuleDir, kModuleDir},                          // none: the executable's directory
      {fits + "\\more", fits, fits.substr(0, 255)},          // a path buffer holds 259 characters
  };
  for (const auto& c : cases) {
    process.SetWorkingDir(c.workingDir);
    EXPECT_EQ(process.BaseDir(), c.base) << c.workingDir;
    EXPECT_EQ(process.ExpandFileMacros("%DIR%"), c.base) << c.workingDir;
    EXPECT_EQ(process.RootDir(), c.root) << c.workingDir;
    EXPECT_EQ(process.ExpandFileMacros("%ROOTDIR%"), c.root) << c.workingDir;
  }
}

TEST_F(ProcessTest, MacroNamesAreExactAndEverythingElseIsKept) {
  process.SetWorkingDir("D:\\Grid\\bin");
  const struct {
    const char* input;
    const char* expanded;
  } cases[] = {
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
  for (const auto& c : cases) EXPECT_EQ(process.ExpandFileMacros(c.input), c.expanded) << c.input;
}

// The configuration's default working directory for a client "%DIR%\client.exe" is "%DIR%":
// inside it the macros mean the executable's directory.
TEST_F(ProcessTest, InsideTheWorkingDirectoryTheMacrosMeanTheExecutablesDirectory) {
  EXPECT_EQ(process.BaseDir(), kModuleDir);
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
  EXPECT_EQ(inBin.processId(), fake.processes.LastChild()->processId);
  EXPECT_EQ(process.BaseDir(), kModuleDir);  // worked out once per object
  // Inserted values are not scanned again.
  fake.processes.SetModuleFileName("D:\\%ROOTDIR%\\50%\\KeldranGridAgent.exe");
  EXPECT_EQ(Process(fake.platform()).ExpandFileMacros("%DIR%\\x"), "D:\\%ROOTDIR%\\50%\\x");
}

TEST_F(ProcessTest, RunningChildIsWaitedForUntilItEndsOrIsKilledWith1460) {
  // Before any start there is nothing to wait for or kill.
  EXPECT_TRUE(process.HasEnded());
  EXPECT_TRUE(process.WaitForEnd(kInfinite));
  process.Terminate(1460);
  EXPECT_EQ(fake.clock.Elapsed(), 0u);
  EXPECT_FALSE(process.hasChild());
  EXPECT_EQ(process.LastResult(), 0);

  ASSERT_TRUE(Start(process));
  EXPECT_FALSE(process.HasEnded());
  EXPECT_FALSE(process.WaitForEnd(5000));
  EXPECT_EQ(fake.clock.Elapsed(), 5000u);
  // A failed wait counts as ended for WaitForEnd, but as running for HasEnded.
  fake.faults.Fail("WaitForSingleObject", win32_error::kInvalidHandle, 2);
  EXPECT_TRUE(process.WaitForEnd(30000));
  EXPECT_FALSE(process.HasEnded());
  process.Terminate(1460);
  EXPECT_TRUE(process.HasEnded());
  EXPECT_TRUE(process.WaitForEnd(0));
  EXPECT_TRUE(fake.processes.LastChild()->terminated);
  EXPECT_EQ(fake.processes.LastChild()->exitCode, 1460u);

  fake.processes.AddProgram(kClientExe, fake::FakeProgram::ExitsAfter(3000, 7));
  ASSERT_TRUE(Start(process));
  EXPECT_TRUE(process.WaitForEnd(30000));
  EXPECT_EQ(fake.clock.Elapsed(), 8000u);
  EXPECT_TRUE(process.HasEnded());
}

TEST_F(ProcessTest, AFailedStartKeepsItsErrorInLastResultAndTheEarlierChild) {
  Win32Error error = 0;
  EXPECT_FALSE(process.Start("%DIR%\\missing.exe -a", show_window::kShow, &error));
  EXPECT_EQ(error, win32_error::kFileNotFound);
  EXPECT_EQ(process.LastResult(), static_cast<HResult>(0x80070002u));
  EXPECT_TRUE(process.HasEnded());
  fake.faults.Fail("CreateProcess", win32_error::kAccessDenied);
  EXPECT_FALSE(Start(process));  // no out parameter
  EXPECT_EQ(process.LastResult(), static_cast<HResult>(0x80070005u));

  // A child that cannot join its job still runs; the success leaves the recorded failure.
  fake.faults.Fail("AssignProcessToJobObject", win32_error::kAccessDenied);
  ASSERT_TRUE(Start(process, &error));
  EXPECT_EQ(process.LastResult(), static_cast<HResult>(0x80070005u));
  EXPECT_EQ(process.JobError(), win32_error::kAccessDenied);
  EXPECT_FALSE(fake.processes.LastChild()->inJob);
  EXPECT_FALSE(fake.processes.LastChild()->suspended);
  EXPECT_EQ(fake.processes.OpenHandleCount(), 2u);  // no job left open

  // One that cannot resume is killed, and the earlier child stays the current one.
  const std::uint32_t first = process.processId();
  fake.faults.Fail("ResumeThread", win32_error::kNotEnoughMemory);
  EXPECT_FALSE(Start(process, &error));
  EXPECT_EQ(error, win32_error::kNotEnoughMemory);
  EXPECT_TRUE(fake.processes.LastChild()->terminated);
  EXPECT_EQ(fake.processes.OpenHandleCount(), 2u);
  EXPECT_EQ(process.processId(), first);
  EXPECT_FALSE(process.HasEnded());
}

TEST_F(ProcessTest, EachChildRunsInAJobThatEndsItWithTheLastHandleAndNoHandleLeaks) {
  auto owner = std::make_unique<Process>(fake.platform());
  ASSERT_TRUE(Start(*owner));
  EXPECT_TRUE(fake.processes.LastChild()->inJob);
  EXPECT_FALSE(fake.processes.LastChild()->suspended);
  EXPECT_EQ(owner->JobError(), 0u);
  // A waiter keeps the replaced child's job, and so the child, until it lets go.
  SharedProcessHandle waiter = owner->Handle();
  ASSERT_TRUE(Start(*owner));
  EXPECT_TRUE(fake.processes.Children()[0].running);
  waiter.reset();
  EXPECT_TRUE(fake.processes.Children()[0].terminated);
  EXPECT_TRUE(fake.processes.Children()[1].running);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(Start(*owner));
    if (i % 2) owner->Terminate(1460);
  }
  EXPECT_EQ(fake.processes.OpenHandleCount(), 3u);  // process, thread, job
  owner.reset();
  EXPECT_EQ(fake.processes.LastChild()->exitCode, 1460u);
  EXPECT_EQ(fake.processes.OpenHandleCount(), 0u);
}

// The service control handler waits for the client on its own thread while the run loop may
// start a new one: the wait must see a whole handle, old or new, never one being closed.
TEST_F(ProcessTest, AWaitOnAnotherThreadSurvivesARestart) {
  ASSERT_TRUE(Start(process));
  std::atomic<bool> stop{false};
  std::thread restarter([&] {
    while (!stop) (void)Start(process);
  });
  for (int i = 0; i < 200; ++i) EXPECT_FALSE(process.WaitForEnd(1));
  stop = true;
  restarter.join();
  EXPECT_EQ(fake.processes.OpenHandleCount(), 3u);  // process, thread, job
}

}  // namespace
}  // namespace keldran
