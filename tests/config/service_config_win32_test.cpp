// The configuration load against real INI files: the file's place, its keys with macros and
// defaults, the derived paths, and the failures that stop a start.
#include "platform/win32/windows_api.h"

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
  // Writes the Service section and loads it.
  bool Load(const std::string& ini, const std::string& component = "Grid",
            std::uint16_t eventCategory = category::kStartup) {
    if (!ini.empty()) WriteIni("[Service]\r\n" + ini);
    return LoadServiceConfig(testing::RealFileSystem(), host.events, eventCategory, component, {},
                             &host.config);
  }
  const Configuration& config = host.config;
};

TEST(ServiceConfigTest, TheIniFileLiesBesideTheExecutableWhateverTheComponent) {
  Loaded h;
  ASSERT_TRUE(h.Load("CommandLine=C:\\Grid\\client.exe\r\nLogPre=%COMP%-log\r\n", "Batch"));
  EXPECT_EQ(h.config.IniFile, h.ExeDir() + "KeldranGridAgent.INI");
  EXPECT_EQ(h.config.ServiceComp, "Batch");
  EXPECT_EQ(h.config.LogPre, "Batch-log");
  EXPECT_EQ(h.config.IniDir + "\\", h.ExeDir());
  EXPECT_EQ(h.config.WindowsDir, "C:\\windows");
  // The plain form names the component; no blanks, no quotes.
  EXPECT_EQ(h.config.ServicePath, h.config.ExePath + " Batch@" + h.IniPath() + " /Service");
  EXPECT_EQ(h.host.log.eventSourceName(), "KeldranGridAgent321");
}

TEST(ServiceConfigTest, TheAtSignFormNamesItsOwnIniFileAndEventSource) {
  Loaded h;
  h.Write("cfg\\test.ini", "[Service]\r\nCommandLine=C:\\t.exe\r\n");
  ASSERT_TRUE(h.Load("", "Test@cfg\\test.ini"));
  EXPECT_EQ(h.config.ServiceComp, "Test");
  EXPECT_EQ(h.config.IniFile, h.ExeDir() + "cfg\\test.ini");
  EXPECT_EQ(h.config.IniDir, h.ExeDir() + "cfg");
  EXPECT_EQ(h.host.log.eventSourceName(), "KeldranService.Test");
  // Grid naming the file beside the executable is Grid in the plain form.
  Loaded grid;
  ASSERT_TRUE(grid.Load("CommandLine=C:\\t.exe\r\n", "Grid@keldrangridagent.ini"));
  EXPECT_EQ(grid.config.ServicePath, grid.config.ExePath + " /Service");

  Loaded absolute;
  absolute.Write("conf\\other.ini", "[Service]\r\nCommandLine=C:\\t.exe\r\n");
  ASSERT_TRUE(absolute.Load("", "Other@" + absolute.ExeDir() + "conf\\..\\conf\\other.ini"));
  EXPECT_EQ(absolute.config.IniFile, absolute.ExeDir() + "conf\\other.ini");
}

TEST(ServiceConfigTest, AMissingIniFileIsReportedBeforeAnyKeyIsRead) {
  Loaded h;
  EXPECT_FALSE(h.Load("", "Grid", category::kParameter));
  auto events = h.Events(909);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].category, category::kParameter);  // the caller's category
  EXPECT_EQ(events[0].strings, std::vector<std::string>{h.IniPath()});
  EXPECT_FALSE(h.host.log.fileLoggingOn());
  EXPECT_EQ(h.config.DisplayName, "Keldran  Service");
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
             "CommandLine=%INIDIR%\\client.exe %COMP% %COMP%\r\n",
             "Grid"));
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

TEST(ServiceConfigTest, CommandLineAndWorkingDirAreRequiredWithTheirOwnRules) {
  Loaded missing;
  EXPECT_FALSE(missing.Load("CommandLine=%GSDIR%\r\n"));
  EXPECT_EQ(missing.Insertions(910), std::vector<std::string>{"CommandLine"});

  Loaded at;
  ASSERT_TRUE(at.Load("CommandLine=@\"%WINDIR%\\sys tem\\prog.exe\" -x \"a b\"\r\n"));
  EXPECT_EQ(at.config.CommandLine, "\"C:\\windows\\sys tem\\prog.exe\" -x \"a b\"");
  // The working directory defaults to the program's own, quotes and arguments removed.
  EXPECT_EQ(at.config.WorkingDir, "C:\\windows\\sys tem");

  Loaded own;  // read without macros
  ASSERT_TRUE(own.Load("CommandLine=C:\\a\\b.exe\r\nWorkingDir=%WINDIR%\\w\r\n"));
  EXPECT_EQ(own.config.WorkingDir, "%WINDIR%\\w");
  Loaded empty;
  EXPECT_FALSE(empty.Load("CommandLine=C:\\a\\b.exe\r\nWorkingDir=\r\n"));
  EXPECT_EQ(empty.Insertions(910), std::vector<std::string>{"WorkingDir"});

  // Whether Windows's read filled the buffer: a value too long for it is refused, not cut. (Too
  // long once expanded, and a bare at sign, are ServiceConfigLoadTest's.)
  const std::string longDir(256, 'd');
  Loaded longWorkingDir;
  EXPECT_FALSE(
      longWorkingDir.Load("CommandLine=C:\\c.exe\r\nWorkingDir=C:\\" + longDir + "dd\r\n"));
  EXPECT_EQ(longWorkingDir.Insertions(910),
            std::vector<std::string>{"WorkingDir (the value is longer than 259 characters)"});
  EXPECT_EQ(longWorkingDir.config.WorkingDir, "");  // refused, not kept
  Loaded fits;
  ASSERT_TRUE(fits.Load("CommandLine=C:\\c.exe\r\nWorkingDir=C:\\" + longDir + "\r\n"));
  EXPECT_EQ(fits.config.WorkingDir, "C:\\" + longDir);
}

TEST(ServiceConfigTest, TheIconFileIsLookedForBesideTheExecutableThenTheClientProgram) {
  for (int files = 0; files < 3; ++files) {
    Loaded h;
    const std::string ini = "CommandLine=" + h.ExeDir() + "client\\client.exe\r\n";
    if (files >= 1) h.Write("client\\KeldranGridAgent321.ICO", "x");
    if (files >= 2) h.Write("KeldranGridAgent321.ICO", "x");
    ASSERT_TRUE(h.Load(ini));
    const char* expected[] = {"", "client\\KeldranGridAgent321.ICO", "KeldranGridAgent321.ICO"};
    EXPECT_EQ(h.config.IconFile, files == 0 ? "" : h.ExeDir() + expected[files]);
  }
}

// The forms themselves and the refusal of a password alone are ServiceConfigDecisionsTest's and
// ServiceConfigLoadTest's: here the quoted value as Windows reads it.
TEST(ServiceConfigTest, LogonNamesBothAccountAndPasswordOrNeither) {
  struct Case {
    const char* value;
    const char* user;
    const char* password;
  } cases[] = {
      {"", "", ""},
      {"DOMAIN\\svc;p;w", "DOMAIN\\svc", "p;w"},
      {"LocalService;unused", "NT AUTHORITY\\LocalService", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("Logon=") + c.value);
    Loaded h;
    EXPECT_TRUE(h.Load(std::string("CommandLine=C:\\c.exe\r\nLogon=\"") + c.value + "\"\r\n"));
    EXPECT_EQ(h.config.LogonUser, c.user);
    EXPECT_EQ(h.config.LogonPassword, c.password);
  }
}

TEST(ServiceConfigTest, NumbersHaveTheirDefaults) {
  Loaded h;
  ASSERT_TRUE(h.Load("CommandLine=C:\\c.exe\r\n"));
  EXPECT_EQ(h.config.Timeout, 60);
  EXPECT_EQ(h.config.Show, 0);
  EXPECT_EQ(h.config.Debug, 0);
  EXPECT_EQ(h.config.AutoStart, 0);
  EXPECT_FALSE(h.host.log.traceOn());

  Loaded set;
  ASSERT_TRUE(set.Load("CommandLine=C:\\c.exe\r\nTimeout=0\r\nTrace=1\r\nAutoStart=1\r\n"));
  EXPECT_EQ(set.config.Timeout, 0);
  EXPECT_EQ(set.config.AutoStart, 1);
  EXPECT_TRUE(set.host.log.traceOn());
  // A bad recovery list stops the load (/Check lists it instead).
  Loaded bad;
  EXPECT_FALSE(bad.Load("CommandLine=C:\\c.exe\r\nRecovery=5,x\r\n"));
  EXPECT_EQ(bad.Insertions(910),
            std::vector<std::string>{"Recovery (\"5,x\" is not a comma-separated list of delays in "
                                     "whole seconds, each 1 to 86400, or 0 for none)"});
}

TEST(ServiceConfigTest, ReadIniValueReadsKeysAndWholeSections) {
  Loaded h;
  ASSERT_TRUE(
      h.Load("CommandLine=C:\\c.exe\r\nGSDir=C:\\gs\r\n[Extra]\r\nFirst=%GSDIR%\\a\r\n"
             "Second=b\r\n"));
  const IniReader& ini = h.host.ini;
  // Keys without regard to case, defaults with their macros, and whole sections (only the first
  // entry) are the end-to-end ReadIniString calls'.
  EXPECT_EQ(ini.ReadIniValue("Extra", std::nullopt, "", 50000), "First=C:\\gs\\a");
  std::size_t length = 0;
  EXPECT_EQ(ini.ReadIniValue("Extra", std::string("First"), "", 5, &length), "C:\\g");
  EXPECT_EQ(length, 7u);
}

}  // namespace
}  // namespace keldran
