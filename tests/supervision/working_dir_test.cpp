// A working directory written with the path macros, as the configuration's default gives it
// for a client named "%DIR%\client.exe".
#include "support/module_fixture.h"

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
