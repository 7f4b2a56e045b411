// Registration where the state of several registrations matters: components with services of
// their own share the COM pieces until the last one goes, an unregistration without rights
// changes nothing, and the service settings that Windows refuses leave one warning.
#include "install/registration.h"

#include "support/host_fixture.h"

namespace keldran {
namespace {

constexpr const char* kExe = "C:\\Program Files\\Keldran\\KeldranGridAgent.exe";
constexpr const char* kSources = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
const std::string kClsidKey = std::string("CLSID\\") + names::kClsid;

struct NoNotices final : INotices {
  void PostNotice(const char*, std::uint32_t) override {}
};

class RegistrationStateTest : public ::testing::Test, public testing::FakeHost {
 protected:
  RegistrationStateTest() {
    fake.processes.SetModuleFileName(kExe);
    fake.registry.PutKey(reg_root::kClassesRoot, "CLSID");
    fake.registry.PutKey(reg_root::kClassesRoot, "AppID");
    flags.Quiet = true;
  }
  // The component as its configuration load leaves it, in the plain form.
  Configuration Component(const std::string& name,
                          std::vector<std::uint32_t> recovery = {5, 30, 60}) {
    Configuration c;
    c.ExePath = kExe;
    c.AppName = "KeldranGridAgent";
    c.ExeDir = "C:\\Program Files\\Keldran\\";
    c.ServiceComp = name;
    c.IniFile = c.ExeDir + "KeldranGridAgent.INI";
    const ServiceIdentity id = ServiceIdentityFor(name, false, "\"" + c.ExePath + "\"", c.IniFile);
    c.ServiceName = id.name;
    c.DisplayName = id.displayName;
    c.ServicePath = id.imagePath;
    c.Description = names::kDescription;
    c.CommandLine = "C:\\Grid\\client.exe";
    c.WorkingDir = "C:\\Grid";
    c.RecoveryDelays = std::move(recovery);
    return c;
  }
  HResult Register(const Configuration& c) {
    host.log.setEventSourceName(names::kServiceName);
    Registration registration(fake.platform(), host.events, c, flags, notices);
    return registration.RegisterComponent(true, true);
  }
  HResult Unregister(const Configuration& c) {
    Registration registration(fake.platform(), host.events, c, flags, notices);
    return registration.UnregisterComponent();
  }
  bool HasKey(const std::string& path) const {
    return fake.registry.KeyExists(reg_root::kClassesRoot, path);
  }
  bool HasSource(const std::string& name) const {
    return fake.registry.KeyExists(reg_root::kLocalMachine, kSources + name);
  }
  bool TypeLibraryRemoved() const {
    const auto calls = fake.com.RegisteredTypeLibraries();
    return !calls.empty() && calls.back() == std::string("-") + names::kLibId;
  }

  RunFlags flags;
  NoNotices notices;
};

TEST_F(RegistrationStateTest, ComponentsHaveServicesOfTheirOwnAndTheLastTakesTheSharedPieces) {
  // An earlier version's service goes; this version's services of other components stay.
  ScopedScHandle manager(fake.services), old(fake.services);
  ServiceDefinition earlier;
  earlier.name = "KeldranGridAgent300";
  ASSERT_EQ(fake.services.OpenManager(service_access::kManagerAll, manager.put()), 0u);
  ASSERT_EQ(fake.services.CreateService(manager.get(), earlier, old.put()), 0u);
  old.reset();
  manager.reset();

  const Configuration grid = Component("Grid");
  const Configuration lab = Component("Lab", {});
  ASSERT_EQ(Register(grid), kSOk);
  ASSERT_EQ(Register(lab), kSOk);
  EXPECT_FALSE(fake.services.Service("KeldranGridAgent300"));
  const auto gridService = fake.services.Service("KeldranGridAgent321");
  const auto labService = fake.services.Service("KeldranGridAgent321$Lab");
  ASSERT_TRUE(gridService && labService);
  EXPECT_EQ(gridService->definition.binaryPath, std::string("\"") + kExe + "\" /Service");
  EXPECT_EQ(labService->definition.displayName, "Keldran Grid Agent 3.21 (Lab)");
  EXPECT_EQ(labService->definition.binaryPath,
            std::string("\"") + kExe +
                "\" \"Lab@C:\\Program Files\\Keldran\\KeldranGridAgent.INI\" /Service");
  EXPECT_EQ(gridService->failureActions, (FailureActions{86400, {5000, 30000, 60000}}));
  EXPECT_TRUE(gridService->failureActionsOnNonCrash);
  // Recovery off: nothing set, and the preshutdown time all the same.
  EXPECT_EQ(labService->failureActions, FailureActions{});
  EXPECT_FALSE(labService->failureActionsOnNonCrash);
  EXPECT_EQ(gridService->preshutdownTimeoutMs, service_timing::kPreshutdownTimeoutMs);
  EXPECT_EQ(labService->preshutdownTimeoutMs, service_timing::kPreshutdownTimeoutMs);
  // Lab's service runs in the at-sign form, which reports under its own source.
  EXPECT_TRUE(HasSource("KeldranService.Lab"));
  EXPECT_FALSE(HasSource("KeldranService.Grid"));
  EXPECT_EQ(Count(1001), 0u);

  ASSERT_EQ(Unregister(grid), kSOk);
  EXPECT_FALSE(fake.services.Service("KeldranGridAgent321"));
  EXPECT_TRUE(fake.services.Service("KeldranGridAgent321$Lab"));
  EXPECT_FALSE(HasKey(std::string(testing::kServicesKey) + "Grid"));
  for (const std::string& shared :
       {kClsidKey, std::string(names::kProgId), std::string("AppID\\KeldranGridAgent.EXE")}) {
    EXPECT_TRUE(HasKey(shared)) << shared;
  }
  EXPECT_FALSE(TypeLibraryRemoved());
  EXPECT_TRUE(HasSource("KeldranGridAgent321"));
  EXPECT_EQ(Count(904), 1u);

  ASSERT_EQ(Unregister(lab), kSOk);
  EXPECT_FALSE(fake.services.Service("KeldranGridAgent321$Lab"));
  EXPECT_TRUE(fake.registry.SubkeyNames(reg_root::kClassesRoot, "AppID").empty());
  EXPECT_FALSE(HasKey(kClsidKey));
  EXPECT_FALSE(HasKey(names::kProgId));
  EXPECT_TRUE(TypeLibraryRemoved());
  EXPECT_FALSE(HasSource("KeldranGridAgent321"));
  EXPECT_FALSE(HasSource("KeldranService.Lab"));
  EXPECT_EQ(Count(905), 0u);
  EXPECT_EQ(fake.services.OpenHandleCount() + fake.registry.OpenHandleCount(), 0u);
}

TEST_F(RegistrationStateTest, AnUnregistrationThatCannotReachTheServiceChangesNothing) {
  struct Case {
    const char* call;
    const char* text;
  } cases[] = {
      {"OpenSCManager", "Could not open service manager; reason = \r\n\r\n Error: 5 "},
      {"OpenService", "Could not open service; reason = \r\n\r\n Error: 5 "},
  };
  const Configuration lab = Component("Lab");
  ASSERT_EQ(Register(lab), kSOk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    fake.eventLog.Clear();
    fake.faults.Fail(c.call, win32_error::kAccessDenied);
    EXPECT_EQ(Unregister(lab), kEFail);
    const auto removed = Insertions(905);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].rfind(c.text, 0), 0u) << removed[0];
    EXPECT_EQ(Count(904), 0u);
    EXPECT_TRUE(fake.services.Service("KeldranGridAgent321$Lab"));
    EXPECT_TRUE(HasKey(std::string(testing::kServicesKey) + "Lab"));
    EXPECT_TRUE(HasKey(kClsidKey));
    EXPECT_FALSE(TypeLibraryRemoved());
    EXPECT_TRUE(HasSource("KeldranService.Lab"));
  }
}

TEST_F(RegistrationStateTest, RefusedSettingsLeaveOneWarningAndAServiceWithTheRest) {
  struct Case {
    const char* name;
    std::int32_t autoStart;
    std::vector<const char*> refused;  // levels of ChangeServiceConfig2 that fail
    bool delayed;
    const char* warning;  // empty: none
  } cases[] = {
      {"delayed start asked for", 1, {}, true, ""},
      {"delayed start without automatic start", 0, {}, false, ""},
      {"Wine's delayed start",
       1,
       {"DelayedAutoStartInfo"},
       false,
       "Service registered without delayed automatic start: 87 (0x00000057) "},
      {"every level",
       1,
       {"FailureActions", "FailureActionsFlag", "PreshutdownInfo", "DelayedAutoStartInfo"},
       false,
       "Service registered without its recovery (restart after 5 s, 30 s, 60 s (count reset "
       "after 1 day)): 87 (0x00000057) ; without recovery after a stop with an error code: 87 "
       "(0x00000057) ; without its preshutdown time: 87 (0x00000057) ; without delayed "
       "automatic start: 87 (0x00000057) "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.eventLog.Clear();
    Configuration grid = Component("Grid");
    grid.AutoStart = c.autoStart;
    grid.DelayedStart = 1;
    for (const char* level : c.refused)
      fake.faults.Fail(std::string("ChangeServiceConfig2 ") + level,
                       win32_error::kInvalidParameter);
    ASSERT_EQ(Register(grid), kSOk);
    const auto service = fake.services.Service("KeldranGridAgent321");
    ASSERT_TRUE(service);
    EXPECT_EQ(service->delayedAutoStart, c.delayed);
    const auto warnings = Events(1001);
    if (*c.warning == '\0') {
      EXPECT_TRUE(warnings.empty());
      continue;
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].type, event_type::kWarning);
    EXPECT_EQ(warnings[0].category, category::kInstall);
    EXPECT_EQ(warnings[0].strings, std::vector<std::string>{c.warning});
    EXPECT_EQ(Count(900), 1u);
  }
}

}  // namespace
}  // namespace keldran
