// The start operation, the service main function, status reports and the control handler.
#include "support/host_fixture.h"

namespace keldran {
namespace {

class ServiceControlTest : public testing::RunFixture {
 protected:
  // A control from the Service Control Manager, which arrives on the dispatcher's thread.
  void SendControl(std::uint32_t control) {
    fake.windowing.RunAsOtherThread([&] { fake.services.SendControl(control); });
  }
  std::vector<std::uint32_t> ReportedStates() const {
    std::vector<std::uint32_t> states;
    for (const auto& s : fake.services.StatusReports()) states.push_back(s.currentState);
    return states;
  }
};

TEST_F(ServiceControlTest, StopTellsTheClientWaitsForItAndEndsTheRun) {
  StartClient();
  Connect();
  const std::uint64_t before = fake.clock.Elapsed();
  host.service.Handler(service_control::kStop);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  // The client ignored the request: the handler waited the full 30 s.
  EXPECT_EQ(fake.clock.Elapsed() - before, 30000u);
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_EQ(Insertions(401), std::vector<std::string>{""});
  // A second stop (the window's stop message after the SCM's) writes no second event.
  host.service.Handler(service_control::kStop);
  EXPECT_EQ(Count(401), 1u);
  EXPECT_EQ(Count(400), 0u);
}

TEST_F(ServiceControlTest, ShutdownTellsTheClientWithCode5AndWaits20Seconds) {
  StartClient();
  Connect();
  const std::uint64_t before = fake.clock.Elapsed();
  host.service.Handler(service_control::kShutdown);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kShutdown});
  EXPECT_EQ(fake.clock.Elapsed() - before, 20000u);
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_EQ(Count(400) + Count(401), 0u);
}

TEST_F(ServiceControlTest, AServiceRunReportsItsStatesAndStops) {
  fake.services.SetStartedByServiceManager(true);
  // The client connects after 2 s; interrogate and a user-defined code arrive; the Service
  // Control Manager stops the service at 10 s.
  fake.clock.After(2000, [this] { Connect(); });
  fake.clock.After(3000, [this] { SendControl(service_control::kInterrogate); });
  fake.clock.After(4000, [this] { SendControl(128); });
  fake.clock.After(10000, [this] { SendControl(service_control::kStop); });
  host.service.StartRun(true, false);
  EXPECT_EQ(fake.services.DispatchedServiceName(), "KeldranGridAgent321");
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kRunning,
                                        service_state::kStopPending, service_state::kStopped,
                                        service_state::kStopped}));
  EXPECT_EQ(Count(103), 1u);
  EXPECT_EQ(Count(400), 1u);
  EXPECT_EQ(fake.services.StatusReports().front().controlsAccepted, 5u);
  EXPECT_EQ(fake.services.StatusReports().front().serviceType, 0x10u);
  EXPECT_EQ(Logged(300), (std::vector<testing::LoggedEvent>{
                             {event_type::kWarning, category::kRun,
                              "Service Handler received unrecognized control code: 0x00000080"}}));
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(ServiceControlTest, WithoutTheServiceManagerTheServiceRunsAsAnApplication) {
  fake.clock.After(3000, [this] { ASSERT_EQ(calls.Stop(), kSOk); });
  host.service.StartRun(true, false);
  EXPECT_FALSE(host.service.runAsService());
  EXPECT_EQ(Count(104), 1u);
  EXPECT_EQ(Count(103), 0u);
  EXPECT_EQ(Count(101) + Count(102), 0u);
  // An application reports no status, and keeps none.
  EXPECT_TRUE(fake.services.StatusReports().empty());
  EXPECT_EQ(host.service.status().currentState, service_state::kStopped);
}

TEST_F(ServiceControlTest, AFailingControlHandlerRegistrationEndsTheServiceAsAFailure) {
  fake.services.SetStartedByServiceManager(true);
  fake.faults.Fail("RegisterServiceCtrlHandler", win32_error::kAccessDenied);
  host.service.StartRun(true, false);
  EXPECT_EQ(Count(101), 1u);
  EXPECT_TRUE(host.service.runFailed());
  EXPECT_TRUE(fake.services.StatusReports().empty());
  EXPECT_EQ(ClientStarts(), 0u);
}

TEST_F(ServiceControlTest, ARunningHostIsStoppedOrRefusedAndWithNoneAStopDoesNothing) {
  host.service.StartRun(false, true);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_FALSE(host.service.runFailed());

  fake.com.AddForeignHost(kServiceId, [] { return kSOk; });
  host.service.StartRun(false, true);
  EXPECT_EQ(fake.com.RequestStopCalls(kServiceId), 1);
  EXPECT_FALSE(host.service.runFailed());

  host.service.StartRun(false, false);
  EXPECT_EQ(Insertions(102), std::vector<std::string>{"Service is already running"});
  EXPECT_TRUE(host.service.runFailed());
  EXPECT_EQ(ClientStarts(), 0u);
}

TEST_F(ServiceControlTest, AClientThatEndsDuringTheStopIsNeitherADeathNorRestarted) {
  StartClient();
  Connect();
  const std::uint32_t pid = fake.processes.LastChild()->processId;
  // The client ends on its own while the handler waits, and a watchdog tick that was queued
  // meanwhile runs at once.
  bool tickResult = false;
  fake.clock.After(2500, [&] {
    fake.processes.ExitChild(pid, 0);
    tickResult = supervisor.WatchdogTick();
  });
  const std::uint64_t before = fake.clock.Elapsed();
  host.service.Handler(service_control::kStop);
  EXPECT_EQ(fake.clock.Elapsed() - before, 2500u) << "the stop waits only until the client ends";
  EXPECT_TRUE(tickResult);
  EXPECT_EQ(Count(108), 0u);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(Count(401), 1u);
  // Nor does anything else start a client once the stop is under way.
  ASSERT_EQ(calls.Restart(), kSOk);
  Ticks(3);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(Count(108), 0u);
}

TEST_F(ServiceControlTest, AClientThatConnectsDuringTheStopIsToldAtOnce) {
  fake.services.SetStartedByServiceManager(true);
  ClientProgram(fake::FakeProgram{});
  // The stop comes before the client has connected; the client connects 1 s into the wait and
  // ends 1 s after it has been told.
  fake.clock.After(1000, [this] { SendControl(service_control::kStop); });
  fake.clock.After(2000, [this] {
    Connect();
    const std::uint32_t pid = fake.processes.LastChild()->processId;
    fake.clock.After(1000, [this, pid] { fake.processes.ExitChild(pid, 0); });
  });
  host.service.StartRun(true, false);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_LT(fake.clock.Elapsed(), 5000u);
  // A connect during the stop does not report the service running again.
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kStopPending,
                                        service_state::kStopped, service_state::kStopped}));
}

}  // namespace
}  // namespace keldran
