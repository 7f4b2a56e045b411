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

// Which notice is shown, once, and none once a client runs are ComponentLogTest's; no box with
// /Quiet is StartupE2eTest's. A service's notice must reach the interactive desktop.
TEST_F(StartupTest, AServicesExitNoticeIsAServiceNotification) {
  Host_ h;
  h.WriteIni(kMinimalIni);
  (void)h.host.Startup("/Service /Bogus");  // only the flags count here
  EXPECT_EQ(h.Events(117).at(0).category, category::kParameter);
  h.host.events.logError(category::kStartup, 116, "failed");
  h.host.ShowExitNotice();
  const auto boxes = h.fake.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].style, message_box::kIconError | message_box::kSetForeground |
                                message_box::kServiceNotification);
}

// Ways a start ends that the end-to-end tests cannot bring about or see, with the exit code that
// scripts and installers see and, for some, what the start reported or set up on its way. That a
// failed run (a client that cannot start, a restart that fails, a /Stop that is not obeyed, a
// control handler refused) ends with E_FAIL is the run's runFailed() natively and the exit code
// of HostControlTest's refused second start and HostServiceTest's failed restart; a registration's
// failures are RegistrationTest's.
TEST_F(StartupTest, TheExitCodeTable) {
  const auto none = [](Host_&) {};
  const auto hostRuns = [](Host_& h) {
    h.RegisterComponent("Grid", "{ID}");
    h.fake.com.AddForeignHost("{ID}", [] { return kSOk; });
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
      // As a second uninstall runs it; a registration without one is RegistrationE2eTest's.
      {"an unregistration without the component's key", "/UnReg", none, kSOk,
       [](Host_& h) { EXPECT_TRUE(h.Insertions(116).empty()); }},
      {"a registration while a host runs", "/RegApp", hostRuns, kEFail,
       [](Host_& h) {
         EXPECT_EQ(h.Insertions(901), std::vector<std::string>{"Server is already running\r\n\r\n"
                                                               "Stop service and try again"});
       }},
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
