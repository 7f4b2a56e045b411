// The start-up routine on the fake platform with a real INI file: the ServiceID's limits, the
// service's exit notice, the exit code of the ways a start ends that no end-to-end run shows, and
// each registration failure with what it reports and what happens next.
#include "platform/win32/windows_api.h"

#include <functional>

#include "support_win32/real_files.h"

namespace keldran {
namespace {

using testing::kServicesKey;
using FakeHost = testing::RealFilesHost;

constexpr const char* kIni = "[Service]\r\nCommandLine=C:\\Grid\\client.exe -w 5\r\n";
constexpr const char* kEventSources = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr const char* kPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
const std::string kGridFolder = std::string(kPrograms) + "\\Keldran\\Grid Server";
const std::string kStartupLink = std::string(kPrograms) + "\\StartUp\\Keldran Grid Agent 3.21.lnk";
const std::string kGridKey = std::string(kServicesKey) + "Grid";

bool HasGridKey(FakeHost& h) { return h.fake.registry.KeyExists(reg_root::kClassesRoot, kGridKey); }
bool HasService(FakeHost& h) { return h.fake.services.Service("KeldranGridAgent321").has_value(); }
bool HasEventSource(FakeHost& h) {
  return h.fake.registry.KeyExists(reg_root::kLocalMachine,
                                   std::string(kEventSources) + "\\KeldranGridAgent321");
}
bool HasShortcuts(FakeHost& h) { return h.fake.shell.FolderExists(kGridFolder); }

void Register(FakeHost& h, const char* options) { ASSERT_EQ(h.host.Startup(options), kSOk); }

TEST(StartupTest, RegistrationFailureTable) {
  struct Case {
    const char* name;
    const char* commandLine;
    std::function<void(FakeHost&)> arrange;
    HResult exitCode;
    std::uint32_t eventId;
    std::uint16_t eventType;
    std::string insertionStart;
    std::function<void(FakeHost&)> check;
  } cases[] = {
      {"a component name that leaves its key", "..\\Evil /RegApp /Quiet", [](FakeHost&) {}, kEFail,
       901, event_type::kError, "Component name \"..\\Evil\" cannot be used",
       [](FakeHost& h) {
         EXPECT_TRUE(h.fake.registry.SubkeyNames(reg_root::kClassesRoot, "AppID").empty());
         EXPECT_FALSE(h.fake.shell.FolderExists(std::string(kPrograms) + "\\Keldran"));
       }},
      {"no event-log key", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail(std::string("RegOpenKeyEx ") + kEventSources, 5); },
       kSOk, 112, event_type::kWarning,
       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application \r\n",
       [](FakeHost& h) { EXPECT_TRUE(HasShortcuts(h) && HasGridKey(h)); }},
      {"a negative number undoes the component's key", "/RegService /Quiet",
       [](FakeHost& h) { h.WriteIni(std::string(kIni) + "AutoStart=-1\r\n"); }, kEFail, 112,
       event_type::kError, "HKEY_CLASSES_ROOT\\" + kGridKey + " \r\n",
       [](FakeHost& h) {
         EXPECT_FALSE(HasGridKey(h));
         EXPECT_FALSE(HasService(h));
         EXPECT_TRUE(h.fake.com.RegisteredTypeLibraries().empty());
         EXPECT_FALSE(HasShortcuts(h));
       }},
      {"no service manager", "/RegService /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("OpenSCManager", 5, -1); }, kEFail, 901,
       event_type::kError, "Could not open service manager; reason = \r\n\r\n Error: 5 ",
       [](FakeHost& h) { EXPECT_TRUE(h.fake.com.RegisteredTypeLibraries().empty()); }},
      {"no type library", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("RegisterTypeLib", 0x8002801Cu); }, kSOk, 901,
       event_type::kError, "Unable to register typelib \r\n\r\n Error: -2147319780",
       [](FakeHost& h) { EXPECT_FALSE(HasShortcuts(h)); }},
      {"the service cannot be deleted", "/UnReg /Quiet",
       [](FakeHost& h) {
         Register(h, "/RegService /Quiet");
         h.fake.faults.Fail("DeleteService", 1072);
       },
       kEFail, 905, event_type::kError,
       "Service could not be deleted; reason = \r\n\r\n Error: 1072",
       [](FakeHost& h) { EXPECT_TRUE(HasService(h) && HasEventSource(h)); }},
      {"a folder cannot be removed", "/UnReg /Quiet",
       [](FakeHost& h) {
         Register(h, "/RegApp /Quiet");
         h.fake.faults.Fail("FileSystemObject::DeleteFolder", 0x80070005u);
       },
       kSOk, 905, event_type::kError, "Error: -2147024891 (0x80070005) Access denied.",
       [](FakeHost& h) {
         EXPECT_TRUE(HasShortcuts(h));
         EXPECT_FALSE(HasGridKey(h));
         EXPECT_EQ(h.Count(904), 1u);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost h;
    h.WriteIni(kIni);
    c.arrange(h);
    h.fake.eventLog.Clear();
    EXPECT_EQ(h.host.Startup(c.commandLine), c.exitCode);
    const auto events = h.Events(c.eventId);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].type, c.eventType);
    EXPECT_EQ(events[0].category, category::kInstall);
    ASSERT_FALSE(events[0].strings.empty());
    EXPECT_EQ(events[0].strings[0].substr(0, c.insertionStart.size()), c.insertionStart);
    c.check(h);
  }
}

// Which kind of registration leaves which service and shortcuts: only an application gets
// shortcuts, the start-up one only when it starts by itself, and each registration replaces or
// removes what an earlier one left. Both dependencies (Wine's service manager keeps only the
// first) and the password reach the service's creation, and the configuration's copy is gone.
TEST(StartupTest, TheKindOfRegistrationDecidesServiceAndShortcuts) {
  struct Case {
    const char* options;
    const char* ini;
    bool shortcuts;
    bool startup;
    std::uint32_t serviceType;  // 0: no service
    const char* account;
    const char* password;
  } cases[] = {
      {"/RegApp /Quiet", "", true, false, 0, "", ""},
      {"/RegApp /Quiet", "AutoStart=1\r\n", true, true, 0, "", ""},
      {"/Reg /Quiet", "AutoStart=1\r\n", true, false, 0x110, "", ""},
      {"/RegServ /Quiet", "AutoStart=1\r\nLogon=tester;s3cret\r\n", false, false, 0x10, ".\\tester",
       "s3cret"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " " + c.ini);
    FakeHost h;
    h.WriteIni(std::string(kIni) + c.ini);
    // The configuration finds the icon on disk; the shortcuts look for it through the shell.
    h.Write("KeldranGridAgent321.ICO", "icon");
    h.fake.files.AddFile(h.ExeDir() + "KeldranGridAgent321.ICO", "icon");
    h.fake.files.AddFile(kStartupLink, "old");
    h.fake.files.AddFile(kGridFolder + "\\Old.lnk", "old");
    ASSERT_EQ(h.host.Startup(c.options), kSOk);
    EXPECT_EQ(h.fake.shell.FileExists(kGridFolder + "\\Old.lnk"), c.shortcuts);
    EXPECT_EQ(h.fake.shell.FolderExists(std::string(kPrograms) + "\\Keldran"), c.shortcuts);
    EXPECT_EQ(h.fake.shell.FileExists(kStartupLink), c.startup);
    const auto service = h.fake.services.Service("KeldranGridAgent321");
    ASSERT_EQ(service.has_value(), c.serviceType != 0);
    if (service) {
      EXPECT_EQ(service->definition.serviceType, c.serviceType);
      EXPECT_EQ(service->definition.dependencies, (std::vector<std::string>{"RPCSS", "TCPIP"}));
      EXPECT_EQ(service->definition.account, c.account);
      EXPECT_EQ(service->definition.password, c.password);
      EXPECT_TRUE(h.host.config.LogonPassword.empty());
      EXPECT_EQ(h.fake.services.OpenHandleCount() + h.fake.registry.OpenHandleCount(), 0u);
    }
    if (!c.shortcuts) continue;
    ShortcutDefinition stop;
    ASSERT_EQ(h.fake.shell.ReadShortcut(kGridFolder + "\\Stop Grid Server.lnk", &stop), kSOk);
    EXPECT_EQ(stop.iconLocation, h.ExeDir() + "KeldranGridAgent321.ICO,0");
  }
}

TEST(StartupTest, AServiceIdMustBeATerminatedStringOfAtMost99Characters) {
  auto tryId = [&](const std::string& id, RegType type) {
    FakeHost h;
    h.WriteIni(kIni);
    h.fake.registry.PutString(reg_root::kClassesRoot, kGridKey, "ServiceID", id, type);
    (void)h.host.Startup("");
    return h.host.config.ServiceID;
  };
  EXPECT_EQ(tryId(std::string(99, 'x'), RegType::kSz), std::string(99, 'x'));
  EXPECT_EQ(tryId(std::string(100, 'x'), RegType::kSz), "");
  EXPECT_EQ(tryId("{ID}", RegType::kBinary), "");
}

// A service's notice must reach the interactive desktop.
TEST(StartupTest, AServicesExitNoticeIsAServiceNotification) {
  FakeHost h;
  h.WriteIni(kIni);
  (void)h.host.Startup("/Service /Bogus");  // only the flags count here
  EXPECT_EQ(h.Events(117).at(0).category, category::kParameter);
  h.host.events.logError(category::kStartup, 116, "failed");
  h.host.ShowExitNotice();
  const auto boxes = h.fake.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].style, message_box::kIconError | message_box::kSetForeground |
                                message_box::kServiceNotification);
}

TEST(StartupTest, TheExitCodeTable) {
  const auto none = [](FakeHost&) {};
  struct Case {
    const char* name;
    const char* commandLine;
    std::function<void(FakeHost&)> arrange;
    HResult exitCode;
    std::function<void(FakeHost&)> check = [](FakeHost&) {};
  } cases[] = {
      {"COM cannot start, before the command line is looked at", "/Bogus",
       [](FakeHost& h) { h.fake.faults.Fail("CoInitialize", 0x8007000Eu); }, kEFail,
       [](FakeHost& h) {
         const auto texts = h.Insertions(116);
         ASSERT_EQ(texts.size(), 1u);
         EXPECT_EQ(texts[0].rfind("CoInitialize failure ", 0), 0u);
         EXPECT_TRUE(h.Insertions(117).empty());
       }},
      {"/Service for a component registered as an application", "/Service",
       [](FakeHost& h) {
         h.RegisterComponent("Grid", "{ID}", std::nullopt);
         h.fake.services.SetStartedByServiceManager(true);
       },
       kEFail,
       [](FakeHost& h) {
         EXPECT_TRUE(h.fake.services.DispatchedServiceName().empty());
         EXPECT_EQ(h.Count(104), 1u);  // as application
       }},
      // As a second uninstall runs it; a registration without one is RegistrationE2eTest's.
      {"an unregistration without the component's key", "/UnReg", none, kSOk,
       [](FakeHost& h) { EXPECT_TRUE(h.Insertions(116).empty()); }},
      {"a registration while a host runs", "/RegApp",
       [](FakeHost& h) {
         h.RegisterComponent("Grid", "{ID}");
         h.fake.com.AddForeignHost("{ID}", [] { return kSOk; });
       },
       kEFail,
       [](FakeHost& h) {
         EXPECT_EQ(h.Insertions(901), std::vector<std::string>{"Server is already running\r\n\r\n"
                                                               "Stop service and try again"});
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost h;
    h.WriteIni(kIni);
    c.arrange(h);
    EXPECT_EQ(h.host.Startup(c.commandLine), c.exitCode);
    c.check(h);
  }
}

}  // namespace
}  // namespace keldran
