// Registrations of several components, one without rights, and service settings Windows refuses.
#include "install/registration.h"

#include "support/host_fixture.h"

namespace keldran {
namespace {

constexpr const char* kSources = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

class RegistrationStateTest : public ::testing::Test, public testing::FakeHost {
 protected:
  RegistrationStateTest() {
    fake.registry.PutKey(reg_root::kClassesRoot, "CLSID");
    flags.Quiet = true;
  }
  static Configuration Component(const std::string& name, std::vector<std::uint32_t> recovery) {
    Configuration c;
    c.ServiceComp = name;
    const ServiceIdentity id = ServiceIdentityFor(name, false, "C:\\K.exe", "C:\\K.INI");
    c.ServiceName = id.name;
    c.DisplayName = id.displayName;
    c.ServicePath = id.imagePath;
    c.RecoveryDelays = std::move(recovery);
    c.DelayedStart = 1;
    return c;
  }
  HResult Register(const Configuration& c) {
    return Registration(fake.platform(), host.events, c, flags, host.window.tray())
        .RegisterComponent(true, true);
  }
  HResult Unregister(const Configuration& c) {
    return Registration(fake.platform(), host.events, c, flags, host.window.tray())
        .UnregisterComponent();
  }
  // The class, the shared event source and the type library (not unregistered last).
  bool SharedPiecesThere() const {
    const auto libraries = fake.com.RegisteredTypeLibraries();
    return fake.registry.KeyExists(reg_root::kClassesRoot,
                                   std::string("CLSID\\") + names::kClsid) &&
           fake.registry.KeyExists(reg_root::kLocalMachine,
                                   kSources + std::string("KeldranGridAgent321")) &&
           !libraries.empty() && libraries.back()[0] != '-';
  }

  RunFlags flags;
};

TEST_F(RegistrationStateTest, ComponentsHaveServicesOfTheirOwnAndTheLastTakesTheSharedPieces) {
  Configuration grid = Component("Grid", {5, 30, 60}), lab = Component("Lab", {});
  grid.AutoStart = 1;
  ASSERT_EQ(Register(grid), kSOk);
  ASSERT_EQ(Register(lab), kSOk);
  const auto gridService = fake.services.Service("KeldranGridAgent321");
  const auto labService = fake.services.Service("KeldranGridAgent321$Lab");
  ASSERT_TRUE(gridService && labService);
  EXPECT_EQ(labService->definition.binaryPath, "C:\\K.exe Lab@C:\\K.INI /Service");
  EXPECT_EQ(gridService->failureActions, (FailureActions{86400, {5000, 30000, 60000}}));
  EXPECT_TRUE(gridService->failureActionsOnNonCrash);
  // Recovery off: nothing set; no delayed start without an automatic one.
  EXPECT_EQ(labService->failureActions, FailureActions{});
  EXPECT_FALSE(labService->failureActionsOnNonCrash || labService->delayedAutoStart);
  EXPECT_TRUE(gridService->delayedAutoStart);
  EXPECT_EQ(labService->preshutdownTimeoutMs, service_timing::kPreshutdownTimeoutMs);
  // Lab's service runs in the at-sign form, which reports under its own source.
  EXPECT_TRUE(fake.registry.KeyExists(reg_root::kLocalMachine,
                                      kSources + std::string("KeldranService.Lab")));

  ASSERT_EQ(Unregister(grid), kSOk);
  EXPECT_FALSE(fake.services.Service("KeldranGridAgent321"));
  EXPECT_TRUE(fake.services.Service("KeldranGridAgent321$Lab"));
  EXPECT_TRUE(SharedPiecesThere());
  ASSERT_EQ(Unregister(lab), kSOk);
  EXPECT_FALSE(fake.services.Service("KeldranGridAgent321$Lab"));
  EXPECT_EQ(fake.com.RegisteredTypeLibraries().back(), std::string("-") + names::kLibId);
  EXPECT_TRUE(fake.registry.SubkeyNames(reg_root::kClassesRoot, "CLSID").empty());
  EXPECT_TRUE(fake.registry.SubkeyNames(reg_root::kLocalMachine, kSources).empty());
  EXPECT_EQ(Count(904), 2u);
  EXPECT_EQ(Count(905), 0u);
}

TEST_F(RegistrationStateTest, AnUnregistrationThatCannotReachTheServiceChangesNothing) {
  const Configuration lab = Component("Lab", {5});
  ASSERT_EQ(Register(lab), kSOk);
  fake.faults.Fail("OpenService", win32_error::kAccessDenied);
  EXPECT_EQ(Unregister(lab), kEFail);
  EXPECT_NE(Insertions(905).back().find("; reason = \r\n\r\n Error: 5 "), std::string::npos);
  EXPECT_TRUE(fake.services.Service("KeldranGridAgent321$Lab"));
  EXPECT_TRUE(
      fake.registry.KeyExists(reg_root::kClassesRoot, std::string(testing::kServicesKey) + "Lab"));
  EXPECT_TRUE(SharedPiecesThere());
  EXPECT_EQ(Count(904), 0u);
}

// Wine refuses the flag and delayed start with 87; here every level fails in turn.
TEST_F(RegistrationStateTest, RefusedSettingsLeaveOneWarningAndAServiceWithTheRest) {
  Configuration grid = Component("Grid", {5, 30, 60});
  grid.AutoStart = 1;
  for (const char* level :
       {"FailureActions", "FailureActionsFlag", "PreshutdownInfo", "DelayedAutoStartInfo"})
    fake.faults.Fail(std::string("ChangeServiceConfig2 ") + level, win32_error::kInvalidParameter);
  ASSERT_EQ(Register(grid), kSOk);
  EXPECT_FALSE(fake.services.Service("KeldranGridAgent321")->delayedAutoStart);
  EXPECT_EQ(Logged(1001),
            (std::vector<testing::LoggedEvent>{
                {event_type::kWarning, category::kInstall,
                 "Service registered without its recovery (restart after 5 s, 30 s, 60 s (count "
                 "reset after 1 day)): 87 (0x00000057) ; without recovery after a stop with an "
                 "error code: 87 (0x00000057) ; without its preshutdown time: 87 (0x00000057) ; "
                 "without delayed automatic start: 87 (0x00000057) "}}));
  EXPECT_EQ(Count(900), 1u);
}

}  // namespace
}  // namespace keldran
