// The run loop and the service around it: what it sets up, the order in which it takes
// everything down, the ways a run ends, the status reports and the control handler.
#include <tuple>

#include "platform/boundary.h"
#include "support/host_fixture.h"

namespace keldran {
namespace {

class RunLoopTest : public testing::RunFixture {};

TEST_F(RunLoopTest, AnApplicationRunServesUntilStopThenKillsTheClientBeforeReleasingAndRevoking) {
  // The published object notes, as it is released, whether the client is dead and the object
  // still in the table.
  struct Witness {
    fake::FakePlatform* fake;
    std::vector<std::string> order;
  } witness{&fake, {}};
  makeObject = [&] {
    return ObjectRef(&witness, [](void* p) {
      auto* w = static_cast<Witness*>(p);
      w->order.push_back(std::string("released") +
                         (w->fake->processes.LastChild()->terminated ? " after kill" : "") +
                         (w->fake->com.IsRegistered(kServiceId) ? " before revoke" : ""));
    });
  };
  fake.clock.After(5000, [&] {
    const bool serving = fake.com.IsRegistered(kServiceId) && fake.windowing.Windows().size() == 1;
    witness.order.push_back(serving ? "serving" : "not serving");
    ASSERT_EQ(calls.Stop(), kSOk);
  });
  RunHost();
  EXPECT_EQ(witness.order,
            (std::vector<std::string>{"serving", "released after kill before revoke"}));
  // Only callers of the host's own account find it (no ROTFLAGS_ALLOWANYCLIENT).
  EXPECT_EQ(fake.com.RegistrationAttempts(),
            std::vector<std::string>{std::string(kServiceId) + " flags=1"});
  EXPECT_EQ(Count(104) + Count(105) + Count(111), 3u);
  EXPECT_FALSE(fake.com.IsRegistered(kServiceId));
  EXPECT_TRUE(fake.windowing.Windows().empty());
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(RunLoopTest, AFailedFirstStartSkipsTheLoopButStillShutsDown) {
  fake.faults.Fail("CreateProcess", win32_error::kFileNotFound);
  RunHost();
  EXPECT_EQ(Count(106), 1u);
  EXPECT_TRUE(host.service.runFailed());
  EXPECT_TRUE(fake.windowing.Windows().empty());
  EXPECT_EQ(fake.dialogs.Boxes().size(), 1u);  // an application says why
}

TEST_F(RunLoopTest, AFailureCaughtInAnOsCallbackBecomesAnErrorRecord) {
  ReportBoundaryFailure("a window procedure");
  const auto events = fake.eventLog.EventsWithId(1001);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, event_type::kError);
  EXPECT_NE(events[0].strings[0].find("failure in a window procedure"), std::string::npos);
}

// Each failure in a host of its own: a first case's failed run must not hide a second's.
class RunSetUpTest : public testing::RunFixture,
                     public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(RunSetUpTest, AFailureToSecureComOrStartTheWatchdogEndsTheRunReportedBeforeTheClient) {
  const auto [fault, text] = GetParam();
  fake.faults.Fail(fault, 0x80070005u);
  RunHost();
  const std::vector<std::string> events = Insertions(106);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].rfind(text, 0), 0u) << events[0];
  EXPECT_FALSE(fake.com.IsRegistered(kServiceId));
  EXPECT_EQ(ClientStarts(), 0u);
  EXPECT_TRUE(fake.windowing.Windows().empty());
  EXPECT_TRUE(host.service.runFailed());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, RunSetUpTest,
    ::testing::Values(std::pair{"CoInitialize", ": Cannot initialize COM :"},
                      std::pair{"CoInitializeSecurity", ": Cannot secure the control interface :"},
                      std::pair{"IRunningObjectTable::Register",
                                ": Cannot register service in ROT :"},
                      std::pair{"SetTimer", ": Cannot start the watchdog's timer :"}));

TEST_F(RunLoopTest, AControlDocumentThatCannotBeChangedEndsTheRunFirst) {
  config.CtrlDoc = "C:\\Grid\\missing.doc";
  RunHost();
  EXPECT_EQ(Count(1001), 1u);
  EXPECT_EQ(Count(104), 0u);
  EXPECT_TRUE(fake.com.RegistrationAttempts().empty());
  EXPECT_TRUE(host.service.runFailed());
}

TEST_F(RunLoopTest, TheLastComLockEndsAnApplicationRun) {
  host.service.Lock();
  fake.clock.After(1000, [&] { host.service.Unlock(); });
  RunHost();
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(RunLoopTest, AStopIsHandedToTheRunLoopWhichReportsProgressThenStoppedOnceAndLast) {
  fake.services.SetStartedByServiceManager(true);
  fake.clock.After(2000, [this] { Connect(); });
  // The client ignores the stop.
  fake.clock.After(10000, [this] {
    EXPECT_EQ(fake.services.SendControl(service_control::kStop), 0u);
    // The handler returns before anything is carried out.
    EXPECT_TRUE(ClientEvents().empty());
    EXPECT_EQ(fake.services.StatusReports().back().currentState, service_state::kStopPending);
  });
  host.service.StartRun(true, false);

  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_EQ(fake.clock.Elapsed(), 40000u) << "the client that did not end got the whole 30 s";
  std::vector<std::uint32_t> states;  // each change; a checkpoint a second while stopping
  std::uint32_t checkPoint = 0;
  for (const auto& s : fake.services.StatusReports()) {
    if (states.empty() || states.back() != s.currentState) states.push_back(s.currentState);
    if (s.currentState != service_state::kStopPending) continue;
    EXPECT_EQ(s.checkPoint, ++checkPoint);
  }
  EXPECT_EQ(states,
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kRunning,
                                        service_state::kStopPending, service_state::kStopped}));
  EXPECT_EQ(checkPoint, 31u);
  const ServiceStatus last = fake.services.StatusReports().back();
  EXPECT_EQ(std::tie(last.currentState, last.win32ExitCode, last.checkPoint, last.controlsAccepted),
            std::make_tuple(service_state::kStopped, 0u, 0u, 0x105u));
  EXPECT_EQ(Count(400), 1u);
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(RunLoopTest, StopOptionFailsWhenTheRunningHostHasNotEndedWithin45Seconds) {
  fake.com.AddForeignHost(kServiceId, [] { return kSOk; });
  host.service.StartRun(false, true);
  EXPECT_EQ(
      Insertions(1001),
      std::vector<std::string>{"The running host was asked to stop but has not ended within 45 s"});
  EXPECT_TRUE(host.service.runFailed());
}

TEST_F(RunLoopTest, AStartBesideARunningHostIsRefused) {
  fake.com.AddForeignHost(kServiceId, [] { return kSOk; });
  host.service.StartRun(false, false);
  EXPECT_EQ(Insertions(102), std::vector<std::string>{"Service is already running"});
  EXPECT_TRUE(host.service.runFailed());
  EXPECT_EQ(ClientStarts(), 0u);
}

}  // namespace
}  // namespace keldran
