// The start operation, the service main function, status reports and the control handler.
#include "support/run_fixture.h"

namespace keldran {
namespace {

class ServiceControlTest : public testing::RunFixture {
 protected:
  std::vector<std::uint32_t> ReportedStates() const {
    std::vector<std::uint32_t> states;
    for (const auto& s : fake.services.StatusReports()) states.push_back(s.currentState);
    return states;
  }
  bool QuitPosted() {
    Message message;
    // The fake's queue answers at once: a posted WM_QUIT comes first, else nothing is left.
    fake.windowing.SetDeadline(fake.clock.Elapsed());
    return fake.windowing.GetMessage(&message) == 0;
  }
};

TEST_F(ServiceControlTest, StopTellsTheClientWaitsForItAndEndsTheRun) {
  StartClient();
  Connect();
  const std::uint64_t before = fake.clock.Elapsed();
  module.Handler(service_control::kStop);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  // The client ignored the request: the handler waited the full 30 s.
  EXPECT_EQ(fake.clock.Elapsed() - before, 30000u);
  EXPECT_FALSE(module.ClientRunning);
  EXPECT_TRUE(QuitPosted());
  EXPECT_EQ(host.Insertions(401), std::vector<std::string>{""});
  // A second stop (the window's stop message after the SCM's) writes no second event.
  module.Handler(service_control::kStop);
  EXPECT_EQ(Count(401), 1u);
  EXPECT_EQ(Count(400), 0u);
}

TEST_F(ServiceControlTest, StopWaitsOnlyUntilTheClientEnds) {
  ClientProgram(fake::FakeProgram{});
  StartClient();
  Connect();
  const std::uint32_t pid = fake.processes.LastChild()->processId;
  fake.clock.After(2500, [this, pid] { fake.processes.ExitChild(pid, 0); });
  const std::uint64_t before = fake.clock.Elapsed();
  module.Handler(service_control::kStop);
  EXPECT_EQ(fake.clock.Elapsed() - before, 2500u);
}

TEST_F(ServiceControlTest, StopBeforeConnectPostsNothingButStillWaitsAndQuits) {
  StartClient();
  module.logDebug("marker");
  const std::uint64_t before = fake.clock.Elapsed();
  module.Handler(service_control::kStop);
  EXPECT_TRUE(fake.windowing.MessagesTo(kClientWindow).empty());
  EXPECT_EQ(fake.clock.Elapsed() - before, 30000u);
  EXPECT_TRUE(QuitPosted());
  for (const auto& line : fake.texts.DebugOutput())
    EXPECT_EQ(line.find("Sending stop request"), std::string::npos);
}

TEST_F(ServiceControlTest, ShutdownTellsTheClientWithCode5AndWaits20Seconds) {
  StartClient();
  Connect();
  const std::uint64_t before = fake.clock.Elapsed();
  module.Handler(service_control::kShutdown);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kShutdown});
  EXPECT_EQ(fake.clock.Elapsed() - before, 20000u);
  EXPECT_TRUE(QuitPosted());
  EXPECT_EQ(Count(400) + Count(401), 0u);
}

TEST_F(ServiceControlTest, InterrogateDoesNothingOtherCodesAreBadRequestsAndAppsReportNoStatus) {
  module.RunAsService = true;
  module.Handler(service_control::kInterrogate);
  EXPECT_TRUE(fake.services.StatusReports().empty());
  EXPECT_TRUE(fake.eventLog.Events().empty());
  module.Handler(128);
  auto events = fake.eventLog.EventsWithId(300);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, event_type::kWarning);
  EXPECT_EQ(events[0].category, category::kRun);
  EXPECT_EQ(
      events[0].strings,
      std::vector<std::string>{"Service Handler received unrecognized control code: 0x00000080"});
  // Status reports go to the Service Control Manager only when running as a service.
  module.RunAsService = false;
  module.SetServiceState(service_state::kRunning);
  EXPECT_TRUE(fake.services.StatusReports().empty());
  EXPECT_EQ(module.Status.currentState, service_state::kStopped);
}

TEST_F(ServiceControlTest, AServiceRunReportsItsStatesAndStops) {
  module.RunAsService = true;
  fake.services.SetStartedByServiceManager(true);
  // The client connects after 2 s; the Service Control Manager stops the service at 10 s.
  fake.clock.After(2000, [this] { Connect(); });
  fake.clock.After(10000, [this] { fake.services.SendControl(service_control::kStop); });
  module.StartRun();
  EXPECT_EQ(fake.services.DispatchedServiceName(), "KeldranGridAgent321");
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kRunning,
                                        service_state::kStopPending, service_state::kStopped,
                                        service_state::kStopped}));
  EXPECT_EQ(Count(103), 1u);
  EXPECT_EQ(Count(400), 1u);
  EXPECT_EQ(fake.services.StatusReports().front().controlsAccepted, 5u);
  EXPECT_EQ(fake.services.StatusReports().front().serviceType, 0x10u);
}

TEST_F(ServiceControlTest, WithoutTheServiceManagerTheServiceRunsAsAnApplication) {
  module.RunAsService = true;
  fake.clock.After(3000, [this] { ASSERT_EQ(calls.Stop(), kSOk); });
  module.StartRun();
  EXPECT_FALSE(module.RunAsService);
  EXPECT_EQ(Count(104), 1u);
  EXPECT_EQ(Count(103), 0u);
  EXPECT_EQ(Count(101) + Count(102), 0u);
  EXPECT_TRUE(fake.services.StatusReports().empty());
}

TEST_F(ServiceControlTest, AFailingControlHandlerRegistrationEndsTheServiceSilently) {
  module.RunAsService = true;
  fake.services.SetStartedByServiceManager(true);
  fake.faults.Fail("RegisterServiceCtrlHandler", win32_error::kAccessDenied);
  module.StartRun();
  EXPECT_EQ(Count(101), 1u);
  EXPECT_TRUE(fake.services.StatusReports().empty());
  EXPECT_EQ(ClientStarts(), 0u);
}

TEST_F(ServiceControlTest, ARunningHostIsStoppedOrRefusedAndWithNoneAStopDoesNothing) {
  module.StopRequested = true;
  module.StartRun();
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_FALSE(module.RunFailed);

  fake.com.AddForeignHost(kServiceId, [] { return kSOk; });
  module.StartRun();
  EXPECT_EQ(fake.com.RequestStopCalls(kServiceId), 1);
  EXPECT_FALSE(module.RunFailed);

  module.StopRequested = false;
  module.StartRun();
  EXPECT_EQ(host.Insertions(102), std::vector<std::string>{"Service is already running"});
  EXPECT_TRUE(module.RunFailed);
  EXPECT_EQ(ClientStarts(), 0u);
}

}  // namespace
}  // namespace keldran
