// The configuration load: the INI file's place, its keys with macros and defaults, the derived
// paths, and the failures that stop a start.
#include "support/host_fixture.h"

namespace keldran {
namespace {

using testing::kExeDir;
using testing::kIniPath;

// The program paths as the start-up routine sets them before the load.
void SetModulePaths(Configuration& config) {
  config.ExePath = testing::kExePath;
  config.AppName = "KeldranGridAgent";
  config.ExeDir = kExeDir;
}

bool LoadInto(testing::FakeHost& h, const std::string& component,
              std::uint16_t eventCategory = category::kStartup) {
  return LoadServiceConfig(h.fake.files, h.host.events, eventCategory, component, {},
                           &h.host.config);
}

class ConfigTest : public testing::HostFixture {
 protected:
  ConfigTest() { SetModulePaths(config); }
  bool Load(const std::string& ini, const std::string& component = "Grid") {
    WriteIni("[Service]\r\n" + ini);
    return LoadInto(*this, component);
  }
  // A host of its own that has loaded the Service section, with the files given beside it.
  struct Other : testing::FakeHost {
    explicit Other(const std::string& ini, std::vector<std::string> files = {}) {
      SetModulePaths(host.config);
      WriteIni("[Service]\r\n" + ini);
      for (const std::string& file : files) fake.files.AddFile(file, "x");
      loaded = LoadInto(*this, "Grid");
    }
    const Configuration& config() const { return host.config; }
    bool loaded = false;
  };
};

TEST_F(ConfigTest, TheIniFileLiesBesideTheExecutableWhateverTheComponent) {
  ASSERT_TRUE(Load("CommandLine=C:\\Grid\\client.exe\r\nLogPre=%COMP%-log\r\n", "Batch"));
  EXPECT_EQ(config.IniFile, kIniPath);
  EXPECT_EQ(config.ServiceComp, "Batch");
  EXPECT_EQ(config.LogPre, "Batch-log");
  EXPECT_EQ(config.IniDir, "C:\\Program Files\\Keldran");
  EXPECT_EQ(config.WindowsDir, "C:\\windows");
  EXPECT_EQ(config.ServiceName, "KeldranGridAgent321");
  EXPECT_EQ(config.DisplayName, "Keldran Grid Agent 3.21");
  EXPECT_EQ(config.Description, "Keldran Grid Agent Service 3.21");
  EXPECT_EQ(config.ServicePath, "\"C:\\Program Files\\Keldran\\KeldranGridAgent.exe\" /Service");
  EXPECT_EQ(host.log.eventSourceName(), "KeldranGridAgent321");
}

TEST_F(ConfigTest, AtSignFormNamesItsOwnIniFileAndEventSource) {
  fake.files.AddFile(std::string(kExeDir) + "cfg\\test.ini",
                     "[Service]\r\nCommandLine=C:\\t.exe\r\n");
  ASSERT_TRUE(LoadInto(*this, "Test@cfg\\test.ini"));
  EXPECT_EQ(config.ServiceComp, "Test");
  EXPECT_EQ(config.IniFile, std::string(kExeDir) + "cfg\\test.ini");
  EXPECT_EQ(config.IniDir, std::string(kExeDir) + "cfg");
  EXPECT_EQ(host.log.eventSourceName(), "KeldranService.Test");
  EXPECT_EQ(config.ServiceName, "KeldranGridAgent321");

  fake.files.AddFile("D:\\conf\\other.ini", "[Service]\r\nCommandLine=C:\\t.exe\r\n");
  testing::FakeHost absolute;
  SetModulePaths(absolute.host.config);
  absolute.fake.files.AddFile("D:\\conf\\..\\conf\\other.ini",
                              "[Service]\r\nCommandLine=C:\\t.exe\r\n");
  ASSERT_TRUE(LoadInto(absolute, "Other@D:\\conf\\..\\conf\\other.ini"));
  EXPECT_EQ(absolute.host.config.IniFile, "D:\\conf\\other.ini");
}

TEST_F(ConfigTest, AMissingIniFileIsReportedBeforeAnyKeyIsRead) {
  EXPECT_FALSE(LoadInto(*this, "Grid", category::kParameter));
  auto events = fake.eventLog.EventsWithId(909);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].category, category::kParameter);  // the caller's category
  EXPECT_EQ(events[0].strings, std::vector<std::string>{kIniPath});
  EXPECT_FALSE(host.log.fileLoggingOn());
  EXPECT_EQ(config.DisplayName, "Keldran  Service");
}

TEST_F(ConfigTest, MacrosStandForTheirFieldsAtTheMomentOfTheRead) {
  ASSERT_TRUE(
      Load("DataDir=%DATADIR%\\x\\\r\n"    // still empty while DataDir is read
           "LogDir=%DATADIR%\\logs\\\r\n"  // one trailing backslash goes
           "LogPre=%GSDIR%pre\r\n"         // GSDir is read later: empty here
           "GSDir=%WINDIR%\\gs\\\r\n"
           "CtrlSrc=%CTRLDOC%src\r\n"  // CtrlDoc is read later: empty here
           "CtrlDoc=%GSDIR%\\doc.txt\r\n"
           "DeleteRegKeys=HKCU\\%COMP%;%CTRLDOC%;%comp%;%OTHER%\r\n"
           "CommandLine=%INIDIR%\\client.exe\r\n"));
  EXPECT_EQ(config.DataDir, "\\x");
  EXPECT_EQ(config.LogDir, "\\x\\logs");
  EXPECT_EQ(config.LogPre, "pre");
  EXPECT_EQ(config.GSDir, "C:\\windows\\gs");
  EXPECT_EQ(config.CtrlSrc, "src");
  EXPECT_EQ(config.CtrlDoc, "C:\\windows\\gs\\doc.txt");
  EXPECT_EQ(config.DeleteRegKeys, "HKCU\\Grid;C:\\windows\\gs\\doc.txt;%comp%;%OTHER%");
  EXPECT_EQ(config.CommandLine, "C:\\Program Files\\Keldran\\client.exe");
  EXPECT_TRUE(host.log.fileLoggingOn());
}

TEST_F(ConfigTest, AComponentNamedLikeAMacroDoesNotLoop) {
  ASSERT_TRUE(Load("CommandLine=C:\\c.exe %COMP% %COMP%\r\n", "%COMP%"));
  EXPECT_EQ(config.CommandLine, "C:\\c.exe %COMP% %COMP%");
}

TEST_F(ConfigTest, CommandLineIsRequiredAndLosesOneLeadingAtSign) {
  EXPECT_FALSE(Load("CommandLine=%GSDIR%\r\n"));
  EXPECT_EQ(Insertions(910), std::vector<std::string>{"CommandLine"});

  Other at("CommandLine=@\"%WINDIR%\\sys tem\\prog.exe\" -x \"a b\"\r\n");
  ASSERT_TRUE(at.loaded);
  EXPECT_EQ(at.config().CommandLine, "\"C:\\windows\\sys tem\\prog.exe\" -x \"a b\"");
  // The working directory defaults to the program's own, quotes and arguments removed.
  EXPECT_EQ(at.config().WorkingDir, "C:\\windows\\sys tem");
}

TEST_F(ConfigTest, WorkingDirIsReadWithoutMacrosAndMayNotBeEmpty) {
  ASSERT_TRUE(Load("CommandLine=C:\\a\\b.exe\r\nWorkingDir=%WINDIR%\\w\r\n"));
  EXPECT_EQ(config.WorkingDir, "%WINDIR%\\w");

  Other empty("CommandLine=C:\\a\\b.exe\r\nWorkingDir=\r\n");
  EXPECT_FALSE(empty.loaded);
  EXPECT_EQ(empty.Insertions(910), std::vector<std::string>{"WorkingDir"});
}

TEST_F(ConfigTest, IconFileIsLookedForBesideTheExecutableThenThePrograms) {
  const std::string ini = "CommandLine=C:\\Grid\\client.exe\r\n";
  const std::string besideExe = std::string(kExeDir) + "KeldranGridAgent321.ICO";
  const std::string besideClient = "C:\\Grid\\KeldranGridAgent321.ICO";
  EXPECT_EQ(Other(ini).config().IconFile, "");
  EXPECT_EQ(Other(ini, {besideClient}).config().IconFile, besideClient);
  EXPECT_EQ(Other(ini, {besideClient, besideExe}).config().IconFile, besideExe);
}

TEST_F(ConfigTest, LogonNamesBothAccountAndPasswordOrNeither) {
  struct Case {
    const char* value;
    bool ok;
    const char* user;
    const char* password;
  } cases[] = {
      {"", true, "", ""},
      {"   svc;secret", true, ".\\svc", "secret"},
      {"DOMAIN\\svc;p;w", true, "DOMAIN\\svc", "p;w"},
      {".\\local;pw", true, ".\\local", "pw"},
      {"svc", false, "", ""},
      {"svc;", false, "", ""},
      {";secret", false, "", ""},
      {"   ", false, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("Logon=") + c.value);
    Other h(std::string("CommandLine=C:\\c.exe\r\nLogon=\"") + c.value + "\"\r\n");
    EXPECT_EQ(h.loaded, c.ok);
    EXPECT_EQ(h.config().LogonUser, c.user);
    EXPECT_EQ(h.config().LogonPassword, c.password);
    EXPECT_EQ(h.fake.eventLog.EventsWithId(912).size(), c.ok ? 0u : 1u);
  }
}

TEST_F(ConfigTest, IntegerSettingsHaveTheirDefaults) {
  ASSERT_TRUE(Load("CommandLine=C:\\c.exe\r\n"));
  EXPECT_EQ(config.Timeout, 60);
  EXPECT_EQ(config.Show, 0);
  EXPECT_EQ(config.Debug, 0);
  EXPECT_EQ(config.AutoStart, 0);
  EXPECT_FALSE(host.log.traceOn());

  Other h("CommandLine=C:\\c.exe\r\nTimeout=0\r\nTrace=1\r\nAutoStart=1\r\n");
  ASSERT_TRUE(h.loaded);
  EXPECT_EQ(h.config().Timeout, 0);
  EXPECT_EQ(h.config().AutoStart, 1);
  EXPECT_TRUE(h.host.log.traceOn());
}

TEST_F(ConfigTest, AValueTooLongOnceExpandedIsRefusedNamingItsKey) {
  const std::string longDir(250, 'd');
  EXPECT_FALSE(Load("DataDir=C:\\" + longDir +
                    "\r\nCtrlDoc=%DATADIR%\\document.txt\r\n"
                    "CommandLine=C:\\c.exe\r\n"));
  EXPECT_EQ(Insertions(910),
            std::vector<std::string>{
                "CtrlDoc (the value is longer than 259 characters once its macros are expanded)"});
}

TEST_F(ConfigTest, ReadIniValueReadsKeysAndWholeSections) {
  ASSERT_TRUE(
      Load("CommandLine=C:\\c.exe\r\nGSDir=C:\\gs\r\n[Extra]\r\nFirst=%GSDIR%\\a\r\n"
           "Second=b\r\n"));
  EXPECT_EQ(host.ini.ReadIniValue("Extra", std::string("second"), "d", 50000), "b");
  EXPECT_EQ(host.ini.ReadIniValue("Extra", std::string("Missing"), "%COMP%", 50000), "Grid");
  // A whole section: only its first entry takes part, and is the answer.
  EXPECT_EQ(host.ini.ReadIniValue("Extra", std::string(), "", 50000), "First=C:\\gs\\a");
  EXPECT_EQ(host.ini.ReadIniValue("Extra", std::nullopt, "", 50000), "First=C:\\gs\\a");
  std::size_t length = 0;
  EXPECT_EQ(host.ini.ReadIniValue("Extra", std::string("First"), "", 5, &length), "C:\\g");
  EXPECT_EQ(length, 7u);
}

}  // namespace
}  // namespace keldran
