// The installer's steps of the real executable, run from an install folder whose path holds two
// blanks in a row, a hyphen and a percent sign (its quoting failed once).
#include <gtest/gtest.h>

#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

constexpr char kGridKey[] = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\Grid";
constexpr char kHelperProgId[] = "KeldranGridUtil.Client";

class InstallerStepsE2eTest : public ::testing::Test {
 protected:
  InstallerStepsE2eTest() : root_(dir_.File("Keldran  100%-x")), bin_(root_ + "\\bin") {
    EXPECT_TRUE(CreateDirectoryA(root_.c_str(), nullptr) &&
                CreateDirectoryA(bin_.c_str(), nullptr));
    EXPECT_TRUE(CopyFileA(AgentExePath().c_str(), File("KeldranGridAgent.exe").c_str(), TRUE));
  }
  ~InstallerStepsE2eTest() override {
    if (RegKeyExists(HKEY_CLASSES_ROOT, kGridKey)) (void)Step("/UnReg /Quiet");
  }

  std::string File(const std::string& name) const { return bin_ + "\\" + name; }
  std::string Read(const std::string& name) const { return ReadWholeFile(File(name)).value_or(""); }
  DWORD Step(const std::string& options) const {
    return StepOf(File("KeldranGridAgent.exe"), options);
  }
  DWORD StepOf(const std::string& exe, const std::string& options) const {
    RunOptions run;
    run.timeoutMs = 60000;
    return RunProgram("\"" + exe + "\" " + options, run).exitCode;
  }
  static bool ServiceInstalled() { return OpenServiceNamed("KeldranGridAgent321") != nullptr; }

  ScratchDir dir_;
  const std::string root_;
  const std::string bin_;
};

// The installer's values reach the working INI file as the host reads them back, a quoted client
// command line included (Wine's msiexec cannot pass one on, so the package test cannot).
TEST_F(InstallerStepsE2eTest, CommitUninstallAndRollback) {
  ASSERT_TRUE(WriteWholeFile(File("Grid-example.ini"),
                             "[Grid]\r\nHome=%ROOTDIR%\r\nBin=%DIR%\r\nOther=%TEMP%\r\n"));
  ASSERT_TRUE(WriteWholeFile(File("KeldranGridAgent-example.ini"),
                             "[Service]\r\nLogDir=%DIR%\r\nCommandLine=%DIR%\\client.exe\r\n"));
  // Without the companion DLL the commit ends with the load error and touches no INI file.
  EXPECT_EQ(Step("/Commit"), 0x8007007Eu);
  EXPECT_FALSE(FileExists(File("Grid.ini")));

  ASSERT_TRUE(CopyFileA(ProgramPath("KeldranGridUtil.dll").c_str(),
                        File("KeldranGridUtil.dll").c_str(), TRUE));
  // Away from the percent sign, which the client's path macros would drop.
  const std::string work = dir_.File("work  x");
  ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(work + "\\client.exe", ""));
  const std::string client = "\"" + work + "\\client.exe\" /a \"b  c\"";
  ASSERT_EQ(Step("/Commit /Set:WorkingDir=\"" + work + "\" /Set:CommandLine=" + client), 0u)
      << Read(DayFileName());
  const std::string grid = "[Grid]\r\nHome=" + root_ + "\r\nBin=" + bin_ + "\r\nOther=%TEMP%\r\n";
  EXPECT_EQ(Read("Grid.ini"), grid);
  auto value = [&](const char* key) {
    char text[300] = {};
    GetPrivateProfileStringA("Service", key, "<none>", text, sizeof text,
                             File("KeldranGridAgent.ini").c_str());
    return std::string(text);
  };
  EXPECT_EQ(value("LogDir"), bin_);
  EXPECT_EQ(value("CommandLine"), client);
  EXPECT_EQ(value("WorkingDir"), work);
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, kHelperProgId));
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kGridKey, "ServicePath"),
            "\"" + File("KeldranGridAgent.exe") + "\" /Service");
  EXPECT_TRUE(ServiceInstalled());

  // A second commit leaves an edited working file alone; a refused value leaves the host's INI
  // file as it was.
  ASSERT_TRUE(WriteWholeFile(File("Grid.ini"), "edited"));
  EXPECT_EQ(Step("/Commit"), 0u) << Read(DayFileName());
  EXPECT_EQ(Read("Grid.ini"), "edited");
  const std::string hostIni = Read("KeldranGridAgent.ini");
  EXPECT_EQ(Step("/Commit /ReplaceConfig=1 /Set:Timeout=45 /Set:Recovery=0,5"), 0x80004005u);
  EXPECT_EQ(Read("KeldranGridAgent.ini"), hostIni);
  EXPECT_FALSE(FileExists(File("KeldranGridAgent.ini.before-commit")));

  EXPECT_EQ(Step("/Uninstall"), 0u) << Read(DayFileName());
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kHelperProgId));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kGridKey));
  EXPECT_FALSE(ServiceInstalled());
  EXPECT_EQ(Read("Grid.ini"), "edited");

  // An installer's rollback runs a copy of the host from a temporary folder. Named in the
  // at-sign form, the installed INI file's folder stands in for the copy's own.
  ASSERT_EQ(Step("/Commit"), 0u) << Read(DayFileName());
  const std::string copy = dir_.File("KeldranGridAgent.exe");
  ASSERT_TRUE(CopyFileA(File("KeldranGridAgent.exe").c_str(), copy.c_str(), TRUE));
  EXPECT_EQ(StepOf(copy, "\"Grid@" + File("KeldranGridAgent.ini") + "\" /Rollback"), 0u);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kHelperProgId));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kGridKey));
  EXPECT_FALSE(ServiceInstalled());
}

}  // namespace
}  // namespace keldran::test
