// The start-up routine: the configuration and the component's registration checked in their
// order, run modes, the dispatch, the exit notice, and the exit code of every way a start ends.
// The INI file is a real one, read by Windows itself; everything else is fake.
#include "platform/win32/windows_api.h"

#include <functional>

#include "support_win32/real_files.h"

namespace keldran {
namespace {

using testing::kServicesKey;
using Host_ = testing::RealFilesHost;

constexpr const char* kMinimalIni = "[Service]\r\nCommandLine=C:\\Grid\\client.exe -w 5\r\n";

class StartupTest : public ::testing::Test, public Host_ {
 protected:
  StartupTest() { WriteIni(kMinimalIni); }
  HResult Start(const std::string& commandLine) { return host.Startup(commandLine); }
  std::vector<std::string> Rejections() const { return Insertions(117); }
  Configuration& config = host.config;
};

TEST_F(StartupTest, TheProgramPathsAndTheCommandLineSettingsReachTheConfiguration) {
  WriteIni(std::string(kMinimalIni) + "Timeout=120\r\nShow=1\r\nAutoStart=0\r\n");
  RegisterComponent("Grid", "{ID}");
  (void)Start("/Timeout=30 /Hide /Auto /Quiet");
  EXPECT_TRUE(Rejections().empty());
  EXPECT_EQ(config.Timeout, 30);
  EXPECT_EQ(config.Show, 0);
  EXPECT_EQ(config.AutoStart, 1);
  EXPECT_EQ(config.ExePath, ExeDir() + "KeldranGridAgent.exe");
  EXPECT_EQ(config.AppName, "KeldranGridAgent");
  EXPECT_EQ(config.ExeDir, ExeDir());
}

TEST_F(StartupTest, AMissingIniFileIsReportedBeforeTheCombinationCheck) {
  ASSERT_TRUE(DeleteFileA(IniPath().c_str()));
  EXPECT_EQ(Start("/UnReg /RegApp"), kEFail);
  EXPECT_TRUE(Rejections().empty());
  EXPECT_EQ(Insertions(909), std::vector<std::string>{IniPath()});
}

TEST_F(StartupTest, AnUnregisteredComponentIsNotInstalled) {
  EXPECT_EQ(Start(""), kEFail);
  EXPECT_EQ(Insertions(116),
            std::vector<std::string>{"Service not installed.\r\n\r\nRun KeldranService with "
                                     "/RegServ, /RegApp, or /Reg option."});
  EXPECT_EQ(fake.eventLog.EventsWithId(116)[0].category, category::kStartup);

  Host_ noId;
  noId.WriteIni(kMinimalIni);
  noId.fake.registry.PutKey(reg_root::kClassesRoot, std::string(kServicesKey) + "Grid");
  EXPECT_EQ(noId.host.Startup(""), kEFail);
  EXPECT_EQ(noId.Insertions(116),
            std::vector<std::string>{std::string("Registry entry \"HKEY_CLASSES_ROOT\\") +
                                     kServicesKey + "Grid\\ServiceID\" not found"});
}

TEST_F(StartupTest, AServiceIdMustBeATerminatedStringOfAtMost99Characters) {
  const std::string key = std::string(kServicesKey) + "Grid";
  auto tryId = [&](const std::string& id, RegType type) {
    Host_ h;
    h.WriteIni(kMinimalIni);
    h.fake.registry.PutString(reg_root::kClassesRoot, key, "ServiceID", id, type);
    (void)h.host.Startup("");
    return h.host.config.ServiceID;
  };
  EXPECT_EQ(tryId(std::string(99, 'x'), RegType::kSz), std::string(99, 'x'));
  EXPECT_EQ(tryId(std::string(100, 'x'), RegType::kSz), "");
  EXPECT_EQ(tryId("{ID}", RegType::kBinary), "");
}

TEST_F(StartupTest, TheServiceOptionRunsAsAServiceOnlyWhenTheComponentIsRegisteredAsOne) {
  RegisterComponent("Grid", "{ID}", std::nullopt);
  fake.services.SetStartedByServiceManager(true);
  (void)Start("/Service");
  EXPECT_TRUE(fake.services.DispatchedServiceName().empty());
  EXPECT_EQ(Count(104), 1u);  // as application

  Host_ service;
  service.WriteIni(kMinimalIni);
  service.RegisterComponent("Grid", "{ID}", 1);
  service.fake.services.SetStartedByServiceManager(true);
  (void)service.host.Startup("/Service");
  EXPECT_EQ(service.fake.services.DispatchedServiceName(), "KeldranGridAgent321");
}

TEST_F(StartupTest, RegistrationAndUnregistrationNeedNoRegistryKeyButNoRunningHost) {
  (void)Start("/RegApp");
  EXPECT_TRUE(Insertions(116).empty());
  Host_ unreg;
  unreg.WriteIni(kMinimalIni);
  (void)unreg.host.Startup("/UnReg");
  EXPECT_TRUE(unreg.Insertions(116).empty());
  EXPECT_TRUE(unreg.Insertions(117).empty());

  Host_ running;
  running.WriteIni(kMinimalIni);
  running.RegisterComponent("Grid", "{RUNNING}");
  running.fake.com.AddForeignHost("{RUNNING}", [] { return kSOk; });
  EXPECT_EQ(running.host.Startup("/RegApp"), kEFail);
  EXPECT_EQ(
      running.Insertions(901),
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

TEST_F(StartupTest, TheAtSignFormWorksThroughTheStartupRoutine) {
  Write("cfg\\test.ini", "[Service]\r\nCommandLine=C:\\t.exe\r\n");
  RegisterComponent("Test", "{ID}");
  (void)Start("Test@cfg\\test.ini /Quiet");
  EXPECT_EQ(config.ServiceComp, "Test");
  EXPECT_EQ(config.IniFile, ExeDir() + "cfg\\test.ini");
  EXPECT_EQ(config.ServiceID, "{ID}");
}

TEST_F(StartupTest, TheExitNoticeIsShownOnceAndOnlyWhereSomeoneCanSeeIt) {
  struct Case {
    const char* options;
    bool clientLaunched;
    bool shown;
    std::uint32_t extraStyle;
  } cases[] = {
      {"", false, true, 0},
      {"/Quiet", false, false, 0},
      {"/Service", false, true, message_box::kServiceNotification},
      {"", true, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Host_ h;
    h.WriteIni(kMinimalIni);
    (void)h.host.Startup(std::string(c.options) + " /Bogus");  // only the flags count here
    EXPECT_EQ(h.Events(117).at(0).category, category::kParameter);
    h.fake.eventLog.Clear();
    if (c.clientLaunched) {
      h.fake.processes.AddProgram("C:\\Grid\\client.exe", {});
      h.host.config.CommandLine = "C:\\Grid\\client.exe";
      ASSERT_TRUE(h.host.supervisor.LaunchClient());
    }
    h.host.events.logWarning(category::kRun, 300, "first");
    h.host.events.logError(category::kStartup, 116, "second");  // the last notice wins
    h.host.ShowExitNotice();
    h.host.ShowExitNotice();
    auto boxes = h.fake.dialogs.Boxes();
    ASSERT_EQ(boxes.size(), c.shown ? 1u : 0u);
    if (c.shown) {
      EXPECT_EQ(boxes[0].text, "Startup failed: second");
      EXPECT_EQ(boxes[0].owner, 0u);
      EXPECT_EQ(boxes[0].style,
                message_box::kIconError | message_box::kSetForeground | c.extraStyle);
    }
  }
}

// Every way a start can end, with the exit code that scripts and installers see: 0 when it ended
// as asked, E_FAIL whenever a reported failure ended it, and an installer step's own code.
TEST_F(StartupTest, TheExitCodeTable) {
  constexpr const char* kClient = "C:\\Grid\\client.exe";
  struct Case {
    const char* name;
    const char* commandLine;
    std::function<void(Host_&)> arrange;
    HResult exitCode;
  } cases[] = {
      {"command line refused", "/Bogus", [](Host_&) {}, kEFail},
      {"no INI file", "", [](Host_& h) { DeleteFileA(h.IniPath().c_str()); }, kEFail},
      {"not installed", "", [](Host_&) {}, kEFail},
      {"stop with no host", "/Stop", [](Host_& h) { h.RegisterComponent("Grid", "{ID}"); }, kSOk},
      {"stop of a running host", "/Stop",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.com.AddForeignHost("{ID}", [&h] {
           h.fake.clock.After(2000, [&h] { h.fake.com.RemoveForeignHost("{ID}"); });
           return kSOk;
         });
       },
       kSOk},
      {"stop of a host that does not end", "/Stop",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.com.AddForeignHost("{ID}", [] { return kSOk; });
       },
       kEFail},
      {"another host runs", "",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.com.AddForeignHost("{ID}", [] { return kSOk; });
       },
       kEFail},
      {"the client cannot start", "", [](Host_& h) { h.RegisterComponent("Grid", "{ID}"); },
       kEFail},
      {"the client stops the host", "",
       [kClient](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.processes.AddProgram(kClient, {});
         h.fake.clock.After(3000, [&h] { (void)h.host.calls.Stop(); });
       },
       kSOk},
      {"a restart fails", "",
       [kClient](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.processes.AddProgram(kClient, fake::FakeProgram::ExitsAfter(1500, 0));
         h.fake.clock.After(2000, [&h] { h.fake.faults.Fail("CreateProcess", 5); });
       },
       kEFail},
      {"the service stops", "/Service",
       [kClient](Host_& h) {
         h.RegisterComponent("Grid", "{ID}", 1);
         h.fake.processes.AddProgram(kClient, {});
         h.fake.services.SetStartedByServiceManager(true);
         h.fake.clock.After(3000, [&h] {
           h.fake.windowing.RunAsOtherThread(
               [&h] { h.fake.services.SendControl(service_control::kStop); });
         });
       },
       kSOk},
      {"the control handler cannot be installed", "/Service",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}", 1);
         h.fake.services.SetStartedByServiceManager(true);
         h.fake.faults.Fail("RegisterServiceCtrlHandler", 5);
       },
       kEFail},
      {"a registration", "/RegApp", [](Host_&) {}, kSOk},
      {"an unregistration", "/UnReg", [](Host_&) {}, kSOk},
      {"registration fails", "/RegApp",
       [](Host_& h) {
         h.fake.faults.Fail(std::string("RegOpenKeyEx ") + kServicesKey + "Grid", 5, -1);
       },
       kEFail},
      {"status: not registered", "/Status", [](Host_&) {}, Host::kStatusNotRunning},
      {"status: healthy", "/Status",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.com.AddForeignHost(
             "{ID}", [] { return kSOk; }, "ClientRunning=1\r\n");
       },
       kSOk},
      {"status: timed out", "/Status",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.com.AddForeignHost(
             "{ID}", [] { return kSOk; }, "ClientRunning=1\r\nTimedOut=1");
       },
       Host::kStatusUnhealthy},
      {"check: the client program is missing", "/Check", [](Host_&) {}, Host::kCheckFoundProblems},
      {"check: clean", "/Check",
       [](Host_& h) {
         h.Write("client.exe", "x");
         h.WriteIni("[Service]\r\nCommandLine=%DIR%\\client.exe\r\n");
       },
       kSOk},
      {"commit without the companion DLL", "/Commit", [](Host_&) {},
       static_cast<HResult>(0x8007007Eu)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Host_ h;
    h.WriteIni(kMinimalIni);
    c.arrange(h);
    EXPECT_EQ(h.host.Startup(c.commandLine), c.exitCode);
  }
}

}  // namespace
}  // namespace keldran
