#include <gtest/gtest.h>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

class ProcessesTest : public ::testing::Test {
 protected:
  Win32Platform backend_;
  IProcesses& p_ = backend_.platform().processes;
};

TEST_F(ProcessesTest, ChildGetsTheGivenEnvironmentAndReportsItsExitCode) {
  ProcessInformation info;
  ASSERT_EQ(
      p_.CreateProcess("cmd.exe /c exit %KELDRAN_CODE%", show_window::kHide,
                       std::string("KELDRAN_CODE=7\0SystemRoot=C:\\windows\0", 38), "", &info),
      0u);
  ScopedProcessHandle process(p_, info.process);
  ScopedThreadHandle thread(p_, info.thread);
  EXPECT_NE(info.processId, 0u);
  ASSERT_EQ(p_.WaitForProcess(process.get(), 30000), wait_result::kObject0);
  std::uint32_t code = 0;
  ASSERT_TRUE(p_.GetExitCode(process.get(), &code));
  EXPECT_EQ(code, 7u);
}

TEST_F(ProcessesTest, TerminatedChildEndsWithTheGivenCode) {
  // The test program itself, on the test that waits ten seconds for the service manager.
  ProcessInformation info;
  ASSERT_EQ(
      p_.CreateProcess("\"" + p_.ModuleFileName() +
                           "\" --gtest_filter=ServicesTest.DispatcherOutsideTheServiceManagerFails",
                       show_window::kHide, std::nullopt, "C:\\", &info),
      0u);
  ScopedProcessHandle process(p_, info.process);
  ScopedThreadHandle thread(p_, info.thread);
  EXPECT_EQ(p_.WaitForProcess(process.get(), 0), wait_result::kTimeout);
  std::uint32_t code = 0;
  ASSERT_TRUE(p_.GetExitCode(process.get(), &code));
  EXPECT_EQ(code, 259u);  // STILL_ACTIVE
  ASSERT_TRUE(p_.TerminateProcess(process.get(), 1460));
  ASSERT_EQ(p_.WaitForProcess(process.get(), 30000), wait_result::kObject0);
  ASSERT_TRUE(p_.GetExitCode(process.get(), &code));
  EXPECT_EQ(code, 1460u);
}

TEST_F(ProcessesTest, ModuleFileNameAndCommandLineNameThisProgram) {
  std::string module = p_.ModuleFileName();
  EXPECT_NE(module.find("keldran_windows_tests.exe"), std::string::npos) << module;
  EXPECT_NE(p_.CommandLine().find("keldran_windows_tests"), std::string::npos);
  EXPECT_EQ(p_.CurrentProcessId(), ::GetCurrentProcessId());
}

TEST_F(ProcessesTest, EntryPointsOfALoadedLibrary) {
  LibraryHandle missing;
  EXPECT_EQ(p_.LoadLibrary("keldran-no-such.dll", &missing), win32_error::kModNotFound);
  ScopedLibrary library(p_);
  ASSERT_EQ(p_.LoadLibrary("oleaut32.dll", library.put()), 0u);
  HResult result = kEFail;
  EXPECT_EQ(p_.CallEntryPoint(library.get(), "DllCanUnloadNow", &result), 0u);
  EXPECT_TRUE(Succeeded(result));
  EXPECT_EQ(p_.CallEntryPoint(library.get(), "KeldranNoSuchEntry", &result),
            win32_error::kProcNotFound);
}

}  // namespace
}  // namespace keldran::win32
