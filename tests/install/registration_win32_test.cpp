// Registration and unregistration on the fake platform (with the real INI file, read by Windows
// itself): every failure with what it reports and what happens next, the service as it is
// created, and the shortcuts each kind of registration leaves. The registry layout itself is
// read back from the real registry by the end-to-end tests.
#include "platform/win32/windows_api.h"

#include <functional>

#include "support_win32/real_files.h"

namespace keldran {
namespace {

using testing::kServicesKey;
using FakeHost = testing::RealFilesHost;

constexpr const char* kIni = "[Service]\r\nCommandLine=C:\\Grid\\client.exe\r\n";
constexpr const char* kEventSources = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr const char* kPrograms = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
constexpr const char* kGridFolder =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Keldran\\Grid Server";
constexpr const char* kStartupLink =
    "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\Keldran Grid Agent "
    "3.21.lnk";

std::string GridKey() { return std::string(kServicesKey) + "Grid"; }

bool HasGridKey(FakeHost& h) {
  return h.fake.registry.KeyExists(reg_root::kClassesRoot, GridKey());
}
bool HasService(FakeHost& h) { return h.fake.services.Service("KeldranGridAgent321").has_value(); }
bool HasEventSource(FakeHost& h) {
  return h.fake.registry.KeyExists(reg_root::kLocalMachine,
                                   std::string(kEventSources) + "\\KeldranGridAgent321");
}
bool HasShortcuts(FakeHost& h) { return h.fake.shell.FolderExists(kGridFolder); }

void Register(FakeHost& h, const char* options) { ASSERT_EQ(h.host.Startup(options), kSOk); }

TEST(RegistrationTest, TheFailureTable) {
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
      {"an empty component name", "@KeldranGridAgent.INI /UnReg /Quiet", [](FakeHost&) {}, kEFail,
       905, event_type::kError, "Component name \"\" cannot be used",
       [](FakeHost& h) { EXPECT_TRUE(h.fake.com.RegisteredTypeLibraries().empty()); }},
      {"no ServiceID", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("CoCreateGuid", 0x80004005u); }, kEFail, 901,
       event_type::kError, "Unable to generate ServiceID guid \r\n\r\n Error: -2147467259",
       [](FakeHost& h) { EXPECT_FALSE(HasGridKey(h)); }},
      {"no event-log key", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail(std::string("RegOpenKeyEx ") + kEventSources, 5); },
       kSOk, 112, event_type::kWarning,
       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application \r\n",
       [](FakeHost& h) { EXPECT_TRUE(HasShortcuts(h) && HasGridKey(h)); }},
      {"no event source key", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("RegCreateKeyEx KeldranGridAgent321", 5); }, kSOk, 113,
       event_type::kWarning,
       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
       "KeldranGridAgent321 \r\n",
       [](FakeHost& h) { EXPECT_FALSE(HasEventSource(h)); }},
      {"one event source value", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("RegSetValueEx CategoryMessageFile", 5); }, kSOk, 114,
       event_type::kWarning,
       "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
       "CategoryMessageFile \r\n",
       [](FakeHost& h) {
         EXPECT_EQ(h.fake.registry.DwordValue(reg_root::kLocalMachine,
                                              std::string(kEventSources) + "\\KeldranGridAgent321",
                                              "CategoryCount"),
                   15u);
       }},
      {"a negative number undoes the component's key", "/RegService /Quiet",
       [](FakeHost& h) { h.WriteIni(std::string(kIni) + "AutoStart=-1\r\n"); }, kEFail, 112,
       event_type::kError, std::string("HKEY_CLASSES_ROOT\\") + GridKey() + " \r\n",
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
      {"the service cannot be created", "/RegService /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("CreateService", 1057); }, kEFail, 901,
       event_type::kError, "Could not create service; reason = \r\n\r\n Error: 1057 ",
       [](FakeHost& h) { EXPECT_FALSE(HasService(h)); }},
      {"no type library", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("RegisterTypeLib", 0x8002801Cu); }, kSOk, 901,
       event_type::kError, "Unable to register typelib \r\n\r\n Error: -2147319780",
       [](FakeHost& h) { EXPECT_FALSE(HasShortcuts(h)); }},
      {"a shortcut cannot be saved", "/RegApp /Quiet",
       [](FakeHost& h) { h.fake.faults.Fail("IPersistFile::Save", 0x80070005u); }, kSOk, 901,
       event_type::kError,
       std::string("Cannot create shortcut \"") + kGridFolder +
           "\\Start Grid Server.lnk\" due to error\r\n\r\n Error: -2147024891",
       [](FakeHost& h) {
         EXPECT_EQ(h.Insertions(901).back().rfind("Unable to register typelib", 0), 0u);
         EXPECT_TRUE(HasGridKey(h));
       }},
      {"the service cannot be deleted", "/UnReg /Quiet",
       [](FakeHost& h) {
         Register(h, "/RegService /Quiet");
         h.fake.faults.Fail("DeleteService", 1072);
       },
       kEFail, 905, event_type::kError,
       "Service could not be deleted; reason = \r\n\r\n Error: 1072",
       [](FakeHost& h) { EXPECT_TRUE(HasService(h) && HasEventSource(h)); }},
      {"no type library to remove", "/UnReg /Quiet",
       [](FakeHost& h) {
         Register(h, "/RegApp /Quiet");
         h.fake.faults.Fail("UnRegisterTypeLib", 0x8002801Cu);
       },
       kSOk, 905, event_type::kError, "Unable to unregister typelib \r\n\r\n Error: -2147319780",
       [](FakeHost& h) {
         EXPECT_FALSE(HasEventSource(h));
         EXPECT_FALSE(HasShortcuts(h));
       }},
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

// The service as it is created, with and without an account: both dependencies (Wine's service
// manager keeps only the first) and the password reach the service's creation, and the
// configuration's copy of the password is gone afterwards.
TEST(RegistrationTest, TheServiceGetsTheAccountAndBothDependencies) {
  struct Case {
    const char* ini;
    std::uint32_t type;
    const char* account;
    const char* password;
  } cases[] = {
      {"Logon=tester;s3cret\r\n", 0x10, ".\\tester", "s3cret"},
      {"", 0x110, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ini);
    FakeHost h;
    h.WriteIni(std::string(kIni) + c.ini);
    Register(h, "/RegService /Quiet");
    const auto service = h.fake.services.Service("KeldranGridAgent321");
    ASSERT_TRUE(service);
    EXPECT_EQ(service->definition.serviceType, c.type);
    EXPECT_EQ(service->definition.startType, 3u);
    EXPECT_EQ(service->definition.dependencies, (std::vector<std::string>{"RPCSS", "TCPIP"}));
    EXPECT_EQ(service->definition.account, c.account);
    EXPECT_EQ(service->definition.password, c.password);
    EXPECT_TRUE(h.host.config.LogonPassword.empty());
    EXPECT_EQ(h.fake.services.OpenHandleCount() + h.fake.registry.OpenHandleCount(), 0u);
  }
}

// Only an application gets shortcuts; only an application that starts by itself gets the
// start-up one; every registration replaces or removes what an earlier one left.
TEST(RegistrationTest, ShortcutsFollowTheKindOfRegistration) {
  struct Case {
    const char* options;
    const char* ini;
    bool startAndStop;
    bool startup;
  } cases[] = {
      {"/RegApp /Quiet", "", true, false},
      {"/RegApp /Quiet", "AutoStart=1\r\n", true, true},
      {"/Reg /Quiet", "AutoStart=1\r\n", true, false},
      {"/RegServ /Quiet", "AutoStart=1\r\n", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " " + c.ini);
    FakeHost h;
    h.WriteIni(std::string(kIni) + c.ini);
    // The configuration finds the icon on disk; the shortcuts look for it through the shell.
    h.Write("KeldranGridAgent321.ICO", "icon");
    h.fake.files.AddFile(h.ExeDir() + "KeldranGridAgent321.ICO", "icon");
    // What an earlier registration left.
    h.fake.files.AddFile(kStartupLink, "old");
    h.fake.files.AddFile(std::string(kGridFolder) + "\\Old.lnk", "old");
    Register(h, c.options);
    // Registering as an application keeps the folder; as a service only, removes it whole.
    EXPECT_EQ(h.fake.shell.FileExists(std::string(kGridFolder) + "\\Old.lnk"), c.startAndStop);
    EXPECT_EQ(h.fake.shell.FolderExists(std::string(kPrograms) + "\\Keldran"), c.startAndStop);
    EXPECT_EQ(h.fake.shell.FileExists(kStartupLink), c.startup);
    if (!c.startAndStop) continue;
    ShortcutDefinition stop;
    ASSERT_EQ(h.fake.shell.ReadShortcut(std::string(kGridFolder) + "\\Stop Grid Server.lnk", &stop),
              kSOk);
    EXPECT_EQ(stop.arguments, "Grid /Stop");
    EXPECT_EQ(stop.iconLocation, h.ExeDir() + "KeldranGridAgent321.ICO,0");
  }
}

}  // namespace
}  // namespace keldran
