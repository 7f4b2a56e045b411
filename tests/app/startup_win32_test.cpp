// The start-up routine: the configuration and the component's registration checked in their
// order, run modes, the dispatch, the exit notice, and the exit code of every way a start ends.
// The INI file is a real one, read by Windows itself; everything else is fake.
#include "platform/win32/windows_api.h"

#include <functional>
#include <tuple>

#include "support_win32/real_files.h"

namespace keldran {
namespace {

using testing::kServicesKey;
using Host_ = testing::RealFilesHost;

constexpr const char* kMinimalIni = "[Service]\r\nCommandLine=C:\\Grid\\client.exe -w 5\r\n";

using StartupTest = ::testing::Test;

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

// Ways a start ends that the end-to-end tests cannot bring about or see, with the exit code that
// scripts and installers see (0 when it ended as asked, E_FAIL whenever a reported failure ended
// it) and, for some, what the start reported or set up on its way.
TEST_F(StartupTest, TheExitCodeTable) {
  constexpr const char* kClient = "C:\\Grid\\client.exe";
  const auto none = [](Host_&) {};
  const auto registered = [](Host_& h) { h.RegisterComponent("Grid", "{ID}"); };
  const auto hostRuns = [](Host_& h) {
    h.RegisterComponent("Grid", "{ID}");
    h.fake.com.AddForeignHost("{ID}", [] { return kSOk; });
  };
  const auto noStartupFailure = [](Host_& h) {
    EXPECT_TRUE(h.Insertions(116).empty());
    EXPECT_TRUE(h.Insertions(117).empty());
  };
  struct Case {
    const char* name;
    const char* commandLine;
    std::function<void(Host_&)> arrange;
    HResult exitCode;
    std::function<void(Host_&)> check = [](Host_&) {};
  } cases[] = {
      {"no INI file, reported before the option conflict", "/UnReg /RegApp",
       [](Host_& h) { DeleteFileA(h.IniPath().c_str()); }, kEFail,
       [](Host_& h) {
         EXPECT_TRUE(h.Insertions(117).empty());
         EXPECT_EQ(h.Insertions(909), std::vector<std::string>{h.IniPath()});
       }},
      {"not installed", "", none, kEFail,
       [](Host_& h) {
         EXPECT_EQ(h.Insertions(116),
                   std::vector<std::string>{"Service not installed.\r\n\r\nRun KeldranService "
                                            "with /RegServ, /RegApp, or /Reg option."});
         EXPECT_EQ(h.Events(116)[0].category, category::kStartup);
       }},
      {"a key without a ServiceID", "",
       [](Host_& h) {
         h.fake.registry.PutKey(reg_root::kClassesRoot, std::string(kServicesKey) + "Grid");
       },
       kEFail,
       [](Host_& h) {
         EXPECT_EQ(h.Insertions(116),
                   std::vector<std::string>{std::string("Registry entry \"HKEY_CLASSES_ROOT\\") +
                                            kServicesKey + "Grid\\ServiceID\" not found"});
       }},
      {"COM cannot start, before the command line is looked at", "/Bogus",
       [](Host_& h) { h.fake.faults.Fail("CoInitialize", 0x8007000Eu); }, kEFail,
       [](Host_& h) {
         const auto texts = h.Insertions(116);
         ASSERT_EQ(texts.size(), 1u);
         EXPECT_EQ(texts[0].rfind("CoInitialize failure ", 0), 0u);
         EXPECT_NE(texts[0].find("Error: -2147024882 (0x8007000E) Out of memory."),
                   std::string::npos);
         EXPECT_TRUE(h.Insertions(117).empty());
       }},
      {"the command line's settings win over the INI file's", "/Timeout=30 /Hide /Auto /Quiet",
       [](Host_& h) {
         h.WriteIni(std::string(kMinimalIni) + "Timeout=120\r\nShow=1\r\nAutoStart=0\r\n");
         h.RegisterComponent("Grid", "{ID}");
       },
       kEFail,
       [](Host_& h) {
         EXPECT_TRUE(h.Insertions(117).empty());
         const Configuration& c = h.host.config;
         EXPECT_EQ(std::tuple(c.Timeout, c.Show, c.AutoStart), std::tuple(30, 0, 1));
         EXPECT_EQ(c.ExePath, h.ExeDir() + "KeldranGridAgent.exe");
         EXPECT_EQ(c.AppName, "KeldranGridAgent");
         EXPECT_EQ(c.ExeDir, h.ExeDir());
       }},
      {"/Service for a component registered as an application", "/Service",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}", std::nullopt);
         h.fake.services.SetStartedByServiceManager(true);
       },
       kEFail,
       [](Host_& h) {
         EXPECT_TRUE(h.fake.services.DispatchedServiceName().empty());
         EXPECT_EQ(h.Count(104), 1u);  // as application
       }},
      {"/Service for a component registered as a service", "/Service",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}", 1);
         h.fake.services.SetStartedByServiceManager(true);
       },
       kEFail,
       [](Host_& h) { EXPECT_EQ(h.fake.services.DispatchedServiceName(), "KeldranGridAgent321"); }},
      {"stop of a host that does not end", "/Stop", hostRuns, kEFail},
      {"the client cannot start", "", registered, kEFail},
      {"a restart fails", "",
       [kClient](Host_& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.processes.AddProgram(kClient, fake::FakeProgram::ExitsAfter(1500, 0));
         h.fake.clock.After(2000, [&h] { h.fake.faults.Fail("CreateProcess", 5); });
       },
       kEFail},
      {"the control handler cannot be installed", "/Service",
       [](Host_& h) {
         h.RegisterComponent("Grid", "{ID}", 1);
         h.fake.services.SetStartedByServiceManager(true);
         h.fake.faults.Fail("RegisterServiceCtrlHandler", 5);
       },
       kEFail},
      // Neither needs the component's key.
      {"a registration", "/RegApp", none, kSOk, noStartupFailure},
      {"an unregistration", "/UnReg", none, kSOk, noStartupFailure},
      {"a registration while a host runs", "/RegApp", hostRuns, kEFail,
       [](Host_& h) {
         EXPECT_EQ(h.Insertions(901), std::vector<std::string>{"Server is already running\r\n\r\n"
                                                               "Stop service and try again"});
       }},
      {"registration fails", "/RegApp",
       [](Host_& h) {
         h.fake.faults.Fail(std::string("RegOpenKeyEx ") + kServicesKey + "Grid", 5, -1);
       },
       kEFail},
      {"status: not registered", "/Status", none, Host::kStatusNotRunning},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Host_ h;
    h.WriteIni(kMinimalIni);
    c.arrange(h);
    EXPECT_EQ(h.host.Startup(c.commandLine), c.exitCode);
    c.check(h);
  }
}

}  // namespace
}  // namespace keldran
