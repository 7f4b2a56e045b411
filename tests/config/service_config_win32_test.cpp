// The configuration load against real INI files, as Windows reads them: the file's place, its
// keys with macros, the derived paths, and the values that stop a start.
#include "platform/win32/windows_api.h"

#include <functional>

#include "support_win32/real_files.h"

namespace keldran {
namespace {

// A host whose program paths are set as the start-up routine sets them, ready to load.
struct Loaded : testing::RealFilesHost {
  Loaded() {
    host.config.ExePath = ExeDir() + "KeldranGridAgent.exe";
    host.config.AppName = "KeldranGridAgent";
    host.config.ExeDir = ExeDir();
  }
  // Writes the Service section (unless empty) and loads it.
  bool Load(const std::string& ini, const std::string& component = "Grid",
            std::uint16_t eventCategory = category::kStartup) {
    if (!ini.empty()) WriteIni("[Service]\r\n" + ini);
    return LoadServiceConfig(testing::RealFileSystem(), host.events, eventCategory, component, {},
                             &host.config);
  }
  const Configuration& config = host.config;
};

TEST(ServiceConfigTest, TheIniFileAndItsPathsFollowTheComponentsForm) {
  struct Case {
    const char* component;  // "<dir>" stands for the executable's directory
    const char* file;       // written beside the executable
    const char* iniFile;
    const char* eventSource;
  } cases[] = {
      {"Batch", "KeldranGridAgent.INI", "KeldranGridAgent.INI", "KeldranGridAgent321"},
      {"Test@cfg\\test.ini", "cfg\\test.ini", "cfg\\test.ini", "KeldranService.Test"},
      {"Other@<dir>conf\\..\\conf\\other.ini", "conf\\other.ini", "conf\\other.ini",
       "KeldranService.Other"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.component);
    Loaded h;
    h.Write(c.file, "[Service]\r\nCommandLine=C:\\t.exe\r\nLogPre=%COMP%-log\r\n");
    std::string component = c.component;
    if (const auto at = component.find("<dir>"); at != std::string::npos)
      component.replace(at, 5, h.ExeDir());
    ASSERT_TRUE(h.Load("", component));
    const std::string iniFile = h.ExeDir() + c.iniFile;
    EXPECT_EQ(h.config.IniFile, iniFile);
    EXPECT_EQ(h.config.IniDir, iniFile.substr(0, iniFile.rfind('\\')));
    EXPECT_EQ(h.config.LogPre, component.substr(0, component.find('@')) + "-log");
    EXPECT_EQ(h.host.log.eventSourceName(), c.eventSource);
    EXPECT_EQ(h.config.WindowsDir, "C:\\windows");
  }
  // Grid naming the file beside the executable, in any case, is Grid in the plain form.
  Loaded grid;
  ASSERT_TRUE(grid.Load("CommandLine=C:\\t.exe\r\n", "Grid@keldrangridagent.ini"));
  EXPECT_EQ(grid.config.ServicePath, grid.config.ExePath + " /Service");
}

TEST(ServiceConfigTest, MacrosStandForTheirFieldsAtTheMomentOfTheRead) {
  Loaded h;
  ASSERT_TRUE(
      h.Load("DataDir=%DATADIR%\\x\\\r\n"    // still empty while DataDir is read
             "LogDir=%DATADIR%\\logs\\\r\n"  // one trailing backslash goes
             "LogPre=%GSDIR%pre\r\n"         // GSDir is read later: empty here
             "GSDir=%WINDIR%\\gs\\\r\n"
             "CtrlSrc=%CTRLDOC%src\r\n"  // CtrlDoc is read later: empty here
             "CtrlDoc=%GSDIR%\\doc.txt\r\n"
             "DeleteRegKeys=HKCU\\%COMP%;%CTRLDOC%;%comp%;%OTHER%\r\n"
             "CommandLine=%INIDIR%\\client.exe %COMP% %COMP%\r\n"));
  EXPECT_EQ(h.config.DataDir, "\\x");
  EXPECT_EQ(h.config.LogDir, "\\x\\logs");
  EXPECT_EQ(h.config.LogPre, "pre");
  EXPECT_EQ(h.config.GSDir, "C:\\windows\\gs");
  EXPECT_EQ(h.config.CtrlSrc, "src");
  EXPECT_EQ(h.config.CtrlDoc, "C:\\windows\\gs\\doc.txt");
  EXPECT_EQ(h.config.DeleteRegKeys, "HKCU\\Grid;C:\\windows\\gs\\doc.txt;%comp%;%OTHER%");
  EXPECT_EQ(h.config.CommandLine, h.ExeDir() + "client.exe Grid Grid");
  EXPECT_TRUE(h.host.log.fileLoggingOn());
  // A component named like a macro does not make the replacement loop.
  Loaded loop;
  ASSERT_TRUE(loop.Load("CommandLine=C:\\c.exe %COMP% %COMP%\r\n", "%COMP%"));
  EXPECT_EQ(loop.config.CommandLine, "C:\\c.exe %COMP% %COMP%");
}

// Values as Windows's read leaves them (quotes taken off, a buffer filled to the last character
// or beyond), with what the load makes of them, or the key that stops it.
TEST(ServiceConfigTest, ValuesAreTakenOrTheLoadNamesTheKeyThatStopsIt) {
  using Field = std::function<std::string(const Configuration&)>;
  const Field workingDir = [](const Configuration& c) { return c.WorkingDir; };
  const Field logon = [](const Configuration& c) { return c.LogonUser + "|" + c.LogonPassword; };
  const std::string longDir = "C:\\" + std::string(256, 'd');
  struct Case {
    std::string ini;
    Field field;
    std::string expected;  // the field, or the refusal's insertion
    bool refused = false;
  } cases[] = {
      {"CommandLine=@\"%WINDIR%\\sys tem\\prog.exe\" -x \"a b\"\r\n",
       [](const Configuration& c) { return c.CommandLine; },
       "\"C:\\windows\\sys tem\\prog.exe\" -x \"a b\""},
      // The working directory defaults to the program's own, quotes and arguments removed.
      {"CommandLine=@\"%WINDIR%\\sys tem\\prog.exe\" -x\r\n", workingDir, "C:\\windows\\sys tem"},
      {"CommandLine=C:\\a.exe\r\nWorkingDir=%WINDIR%\\w\r\n", workingDir, "%WINDIR%\\w"},
      {"CommandLine=C:\\c.exe\r\nWorkingDir=" + longDir + "\r\n", workingDir, longDir},
      {"CommandLine=C:\\c.exe\r\nWorkingDir=" + longDir + "dd\r\n", workingDir,
       "WorkingDir (the value is longer than 259 characters)", true},
      {"CommandLine=C:\\a.exe\r\nWorkingDir=\r\n", workingDir, "WorkingDir", true},
      {"CommandLine=%GSDIR%\r\n", workingDir, "CommandLine", true},
      {"CommandLine=C:\\c.exe\r\nRecovery=5,x\r\n", workingDir,
       "Recovery (\"5,x\" is not a comma-separated list of delays in whole seconds, each 1 to "
       "86400, or 0 for none)",
       true},
      {"CommandLine=C:\\c.exe\r\nLogon=\"\"\r\n", logon, "|"},
      {"CommandLine=C:\\c.exe\r\nLogon=\"DOMAIN\\svc;p;w\"\r\n", logon, "DOMAIN\\svc|p;w"},
      {"CommandLine=C:\\c.exe\r\nLogon=\"LocalService;unused\"\r\n", logon,
       "NT AUTHORITY\\LocalService|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    Loaded h;
    EXPECT_EQ(h.Load(c.ini), !c.refused);
    if (c.refused) {
      EXPECT_EQ(h.Insertions(910), std::vector<std::string>{c.expected});
      if (c.expected.rfind("WorkingDir", 0) == 0) {
        EXPECT_EQ(h.config.WorkingDir, "");  // not kept
      }
    } else {
      EXPECT_EQ(c.field(h.config), c.expected);
    }
  }
  Loaded traced;
  ASSERT_TRUE(traced.Load("CommandLine=C:\\c.exe\r\nTrace=1\r\n"));
  EXPECT_TRUE(traced.host.log.traceOn());
}

TEST(ServiceConfigTest, TheIconFileIsLookedForBesideTheExecutableThenTheClientProgram) {
  const char* expected[] = {"", "client\\KeldranGridAgent321.ICO", "KeldranGridAgent321.ICO"};
  for (int files = 0; files < 3; ++files) {
    Loaded h;
    if (files >= 1) h.Write("client\\KeldranGridAgent321.ICO", "x");
    if (files >= 2) h.Write("KeldranGridAgent321.ICO", "x");
    ASSERT_TRUE(h.Load("CommandLine=" + h.ExeDir() + "client\\client.exe\r\n"));
    EXPECT_EQ(h.config.IconFile, files == 0 ? "" : h.ExeDir() + expected[files]);
  }
}

TEST(ServiceConfigTest, ReadIniValueReadsWholeSectionsAndCutsToTheBuffer) {
  Loaded h;
  ASSERT_TRUE(
      h.Load("CommandLine=C:\\c.exe\r\nGSDir=C:\\gs\r\n[Extra]\r\nFirst=%GSDIR%\\a\r\n"
             "Second=b\r\n"));
  const IniReader& ini = h.host.ini;
  EXPECT_EQ(ini.ReadIniValue("Extra", std::nullopt, "", 50000), "First=C:\\gs\\a");
  std::size_t length = 0;
  EXPECT_EQ(ini.ReadIniValue("Extra", std::string("First"), "", 5, &length), "C:\\g");
  EXPECT_EQ(length, 7u);
}

}  // namespace
}  // namespace keldran
