// A working directory written with the path macros, as the configuration's default gives it
// for a client named "%DIR%\client.exe".
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"
#include "supervision/process.h"

namespace keldran {
namespace {

TEST(WorkingDirTest, MacrosInsideTheWorkingDirectoryMeanTheExecutablesDirectory) {
  fake::FakePlatform fake;
  fake.processes.SetModuleFileName("C:\\Apps\\Grid\\bin\\KeldranGridAgent.exe");
  fake.processes.AddProgram("C:\\Apps\\Grid\\bin\\client.exe", {});
  Process process(fake.platform());
  process.SetWorkingDir("%DIR%");
  EXPECT_EQ(process.BaseDir(), "C:\\Apps\\Grid\\bin");
  process.SetWorkingDir("%ROOTDIR%\\data");
  EXPECT_EQ(process.BaseDir(), "C:\\Apps\\Grid\\data");
  EXPECT_EQ(process.RootDir(), "C:\\Apps\\Grid\\data");

  process.SetWorkingDir("%DIR%");
  ASSERT_TRUE(process.Start("%DIR%\\client.exe /x", show_window::kHide));
  EXPECT_EQ(fake.processes.LastChild()->currentDirectory, "C:\\Apps\\Grid\\bin");
  EXPECT_EQ(fake.processes.LastChild()->commandLine, "C:\\Apps\\Grid\\bin\\client.exe /x");
}

}  // namespace
}  // namespace keldran

namespace keldran {
namespace {

TEST(ProgramPathTest, AnUnquotedProgramPathWithBlanksIsFoundAsWindowsFindsIt) {
  fake::FakePlatform fake;  // the executable lies in "C:\Program Files\Keldran"
  fake.processes.AddProgram("C:\\Program Files\\Keldran\\client.exe", {});
  Process process(fake.platform());
  ASSERT_TRUE(process.Start("%DIR%\\client.exe -x", show_window::kShow));
  EXPECT_EQ(fake.processes.LastChild()->program, "C:\\Program Files\\Keldran\\client.exe");
}

}  // namespace
}  // namespace keldran

namespace keldran {
namespace {

// The service control handler waits for the client on its own thread while the run loop may
// start a new one: the wait must see a whole handle, old or new, never one being closed.
TEST(ProcessThreadsTest, AWaitOnAnotherThreadSurvivesARestart) {
  fake::FakePlatform fake;
  fake.processes.AddProgram("C:\\c.exe", {});
  Process process(fake.platform());
  ASSERT_TRUE(process.Start("C:\\c.exe", show_window::kHide));
  std::atomic<bool> stop{false};
  std::thread restarter([&] {
    while (!stop) (void)process.Start("C:\\c.exe", show_window::kHide);
  });
  for (int i = 0; i < 200; ++i) EXPECT_FALSE(process.WaitForEnd(1));
  stop = true;
  restarter.join();
  EXPECT_EQ(fake.processes.OpenHandleCount(), 3u);  // process, thread, job
}

}  // namespace
}  // namespace keldran
