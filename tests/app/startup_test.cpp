// The start-up routine: command-line rejections with their exact texts, run modes, the
// component's registration check and the dispatch.
#include "support/module_fixture.h"

namespace keldran {
namespace {

using testing::kIniPath;
using testing::kServicesKey;
using testing::ModuleFixture;

constexpr const char* kMinimalIni = "[Service]\r\nCommandLine=C:\\Grid\\client.exe -w 5\r\n";

class StartupTest : public ModuleFixture {
 protected:
  StartupTest() { host.WriteIni(kMinimalIni); }
  HResult Start(const std::string& commandLine) { return module.Startup(commandLine); }
  std::vector<std::string> Rejections() const { return host.Insertions(117); }
};

TEST_F(StartupTest, ComponentIsTheLeadingWordsOrGrid) {
  struct Case {
    const char* commandLine;
    const char* component;
  } cases[] = {
      {"", "Grid"},
      {"/Quiet", "Grid"},
      {"Grid Test /Service", "Grid Test"},
      {"Grid  Test", "Grid Test"},  // blanks separate; empty words vanish
      {"Alpha /Quiet Beta", "Alpha"},
  };
  for (const auto& c : cases) {
    testing::FakeHost h;
    h.WriteIni(kMinimalIni);
    CServiceModule& m = h.module;
    (void)m.Startup(c.commandLine);
    EXPECT_EQ(m.ServiceComp, c.component) << c.commandLine;
  }
}

TEST_F(StartupTest, BadOptionsAreRejectedWithTheirExactText) {
  struct Case {
    const char* commandLine;
    const char* text;
  } cases[] = {
      {"/Quiet word", "Unrecognized value following option /Quiet"},
      {"/Embedding", "Option /Embedding not recognized"},
      {"My-Comp /Quiet", "Option /Comp not recognized"},  // a hyphen inside a word starts an option
      {"/Timeout=", "Unrecognized parameter value specified for option /Timeout="},
      {"/Timeout=5s", "Unrecognized parameter value specified for option /Timeout=5s"},
      {"/TIMEOUT=-1", "Unrecognized parameter value specified for option /TIMEOUT=-1"},
      {"/Timeout=99999999999",
       "Unrecognized parameter value specified for option /Timeout=99999999999"},
      {"/Quiet/Stop", "Option /Quiet/Stop not recognized"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine);
    testing::FakeHost h;
    CServiceModule& m = h.module;
    EXPECT_EQ(m.Startup(c.commandLine), kEFail);
    auto events = h.fake.eventLog.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 117u);
    EXPECT_EQ(events[0].category, category::kParameter);
    EXPECT_EQ(events[0].type, event_type::kError);
    EXPECT_EQ(events[0].strings, std::vector<std::string>{c.text});
  }
}

TEST_F(StartupTest, RejectionBeforeTheConfigurationShowsTheProvisionalCaption) {
  EXPECT_EQ(Start("/Bogus"), kEFail);
  module.ShowExitNotice();
  auto boxes = fake.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Keldran  Service");
  EXPECT_EQ(boxes[0].text, "Invalid command line parameter: Option /Bogus not recognized");
  EXPECT_EQ(boxes[0].style, message_box::kIconError | message_box::kSetForeground);
}

TEST_F(StartupTest, OptionNamesIgnoreCaseAndLeadCharacter) {
  host.RegisterComponent("Grid", "{ID}");
  EXPECT_NE(Start("-regserv /timeout=30 -QUIET"), kEFail + 1);
  EXPECT_TRUE(module.RegServ);
  EXPECT_FALSE(module.RegApp);
  EXPECT_TRUE(module.Quiet);
  EXPECT_EQ(module.Timeout, 30);
  EXPECT_TRUE(Rejections().empty());
  // The module paths come from the long executable path.
  EXPECT_EQ(module.ExePath, "C:\\Program Files\\Keldran\\KeldranGridAgent.exe");
  EXPECT_EQ(module.AppName, "KeldranGridAgent");
  EXPECT_EQ(module.ExeDir, "C:\\Program Files\\Keldran\\");
}

TEST_F(StartupTest, CombinationConflictsAreReportedWithTheGivenLists) {
  struct Case {
    const char* commandLine;
    const char* text;
  } cases[] = {
      {"/UnReg /RegApp", "You cannot code /UnReg and /RegApp  options together"},
      {"/RegServ /UnReg /RegApp", "You cannot code /UnReg and /RegServ /RegApp  options together"},
      {"/Start /Stop", "You cannot code /Start option together with /Stop"},
      {"/Start /Debug", "You cannot code /Start option together with /Debug "},
      {"/stop /Timeout=5 -auto", "You cannot code /Stop option together with /Timeout=5 /auto "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine);
    testing::FakeHost h;
    h.WriteIni(kMinimalIni);
    CServiceModule& m = h.module;
    EXPECT_EQ(m.Startup(c.commandLine), kEFail);
    auto events = h.fake.eventLog.EventsWithId(117);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings[0], c.text);
  }
}

TEST_F(StartupTest, StopWithQuietIsAccepted) {
  host.RegisterComponent("Grid", "{ID}");
  (void)Start("/Stop /Quiet");
  EXPECT_TRUE(Rejections().empty());
  EXPECT_TRUE(module.StopRequested);
}

TEST_F(StartupTest, AMissingIniFileIsReportedBeforeTheCombinationCheck) {
  fake.files.RemoveTree(kIniPath);
  EXPECT_EQ(Start("/UnReg /RegApp"), kEFail);
  EXPECT_TRUE(Rejections().empty());
  EXPECT_EQ(host.Insertions(909), std::vector<std::string>{kIniPath});
}

TEST_F(StartupTest, AnUnregisteredComponentIsNotInstalled) {
  EXPECT_EQ(Start(""), kEFail);
  EXPECT_EQ(host.Insertions(116),
            std::vector<std::string>{"Service not installed.\r\n\r\nRun KeldranService with "
                                     "/RegServ, /RegApp, or /Reg option."});
  // The leading line break belongs to the record, not to the event.
  auto events = fake.eventLog.EventsWithId(116);
  EXPECT_EQ(events[0].category, category::kStartup);
}

TEST_F(StartupTest, ARegistrationWithoutServiceIdIsReportedWithTheKeyPath) {
  fake.registry.PutKey(reg_root::kClassesRoot, std::string(kServicesKey) + "Grid");
  EXPECT_EQ(Start(""), kEFail);
  EXPECT_EQ(host.Insertions(116),
            std::vector<std::string>{std::string("Registry entry \"HKEY_CLASSES_ROOT\\") +
                                     kServicesKey + "Grid\\ServiceID\" not found"});
}

TEST_F(StartupTest, AServiceIdMustBeATerminatedStringOfAtMost99Characters) {
  const std::string key = std::string(kServicesKey) + "Grid";
  auto tryId = [&](const std::string& id, RegType type) {
    testing::FakeHost h;
    h.WriteIni(kMinimalIni);
    h.fake.registry.PutString(reg_root::kClassesRoot, key, "ServiceID", id, type);
    CServiceModule& m = h.module;
    (void)m.Startup("");
    return m.ServiceID;
  };
  EXPECT_EQ(tryId(std::string(99, 'x'), RegType::kSz), std::string(99, 'x'));
  EXPECT_EQ(tryId(std::string(100, 'x'), RegType::kSz), "");
  EXPECT_EQ(tryId("{ID}", RegType::kBinary), "");
}

TEST_F(StartupTest, ServiceOptionIsQuietAndRunsAsServiceOnlyWhenRegisteredAsOne) {
  host.RegisterComponent("Grid", "{ID}", std::nullopt);
  (void)Start("/Service");
  EXPECT_FALSE(module.RunAsService);
  EXPECT_TRUE(module.Quiet);
  EXPECT_TRUE(module.ServiceSwitch);
  EXPECT_EQ(module.ServiceID, "{ID}");

  // "/service" is the Service option (names ignore case) but not the "/Service " marker.
  testing::FakeHost service;
  service.WriteIni(kMinimalIni);
  service.RegisterComponent("Grid", "{ID}", 1);
  service.fake.services.SetStartedByServiceManager(true);
  (void)service.module.Startup("/service");
  EXPECT_TRUE(service.module.ServiceSwitch);
  EXPECT_EQ(service.fake.services.DispatchedServiceName(), "KeldranGridAgent321");
}

TEST_F(StartupTest, RegistrationAndUnregistrationGoOnWithoutARegistryKey) {
  EXPECT_EQ(Start("/RegApp"), kEFail);  // registration itself is not built in yet
  EXPECT_FALSE(module.RunAsService);
  EXPECT_TRUE(host.Insertions(116).empty());
  testing::FakeHost unreg;
  unreg.WriteIni(kMinimalIni);
  (void)unreg.module.Startup("/UnReg");
  EXPECT_TRUE(unreg.Insertions(116).empty());
  EXPECT_TRUE(unreg.Insertions(117).empty());
}

TEST_F(StartupTest, RegistrationIsRefusedWhileAHostOfTheComponentRuns) {
  host.RegisterComponent("Grid", "{RUNNING}");
  fake.com.AddForeignHost("{RUNNING}", [] { return kSOk; });
  EXPECT_EQ(Start("/RegApp"), kEFail);
  EXPECT_EQ(
      host.Insertions(901),
      std::vector<std::string>{"Server is already running\r\n\r\nStop service and try again"});
}

TEST_F(StartupTest, AComFailureEndsTheStartBeforeAnythingElse) {
  fake.faults.Fail("CoInitialize", 0x8007000Eu);
  EXPECT_EQ(Start("/Bogus"), kEFail);
  auto events = fake.eventLog.EventsWithId(116);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].strings[0].rfind("CoInitialize failure ", 0), 0u);
  EXPECT_NE(events[0].strings[0].find("Error: -2147024882 (0x8007000E) Out of memory."),
            std::string::npos);
  EXPECT_TRUE(Rejections().empty());
}

TEST_F(StartupTest, CommandLineSettingsOverrideTheIniFile) {
  host.WriteIni(std::string(kMinimalIni) + "Timeout=120\r\nShow=1\r\nAutoStart=0\r\nDebug=0\r\n");
  host.RegisterComponent("Grid", "{ID}");
  (void)Start("/Timeout=30 /Hide /Auto");
  EXPECT_EQ(module.Timeout, 30);
  EXPECT_EQ(module.Show, 0);
  EXPECT_EQ(module.AutoStart, 1);
}

TEST_F(StartupTest, DebugAndReleaseFollowTheirInterplayOverTheIniValues) {
  struct Case {
    const char* options;
    const char* ini;
    int debug, timeout, show;
  } cases[] = {
      {"/Debug", "Timeout=120\r\n", 1, 0, 1},
      {"/Timeout=45 /Debug", "", 1, 45, 1},
      {"/Hide /Debug", "", 1, 0, 0},
      {"/Release", "Timeout=120\r\nDebug=1\r\nShow=1\r\n", 0, 120, 0},
      {"/Release", "Timeout=0\r\n", 0, 60, 0},
      {"/Debug /Release", "Timeout=120\r\n", 0, 60, 0},
      {"/Show /Release", "", 0, 60, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    testing::FakeHost h;
    h.WriteIni(std::string(kMinimalIni) + c.ini);
    CServiceModule& m = h.module;
    (void)m.Startup(c.options);
    EXPECT_EQ(m.Debug, c.debug);
    EXPECT_EQ(m.Timeout, c.timeout);
    EXPECT_EQ(m.Show, c.show);
  }
}

TEST_F(StartupTest, TheAtSignFormWorksThroughTheStartupRoutine) {
  fake.files.AddFile(std::string(testing::kExeDir) + "cfg\\test.ini",
                     "[Service]\r\nCommandLine=C:\\t.exe\r\n");
  host.RegisterComponent("Test", "{ID}");
  (void)Start("Test@cfg\\test.ini /Quiet");
  EXPECT_EQ(module.ServiceComp, "Test");
  EXPECT_EQ(module.IniFile, std::string(testing::kExeDir) + "cfg\\test.ini");
  EXPECT_EQ(module.ServiceID, "{ID}");

  testing::FakeHost missing;
  EXPECT_EQ(missing.module.Startup("Abc@missing.ini"), kEFail);
  missing.module.ShowExitNotice();
  ASSERT_EQ(missing.fake.dialogs.Boxes().size(), 1u);
  EXPECT_EQ(missing.fake.dialogs.Boxes()[0].text,
            std::string("Cannot find INI file: ") + testing::kExeDir + "missing.ini");
}

TEST_F(StartupTest, ACommandLineOfAnyLengthIsReadInFull) {
  const std::string longWord(400, 'w');
  (void)Start(longWord + " /Quiet");
  EXPECT_EQ(module.ServiceComp, longWord);
  EXPECT_TRUE(module.Quiet);
}

}  // namespace
}  // namespace keldran
