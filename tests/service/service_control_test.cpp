// The start operation, the service main function, status reports and the control handler.
#include "support/host_fixture.h"

namespace keldran {
namespace {

class ServiceControlTest : public testing::RunFixture {
 protected:
  // A control from the Service Control Manager, which arrives on the dispatcher's thread; the
  // handler's answer.
  Win32Error SendControl(std::uint32_t control) {
    Win32Error answer = 0;
    fake.windowing.RunAsOtherThread([&] { answer = fake.services.SendControl(control); });
    return answer;
  }
  std::vector<std::uint32_t> ReportedStates() const {
    std::vector<std::uint32_t> states;
    for (const auto& s : fake.services.StatusReports()) {
      if (states.empty() || states.back() != s.currentState) states.push_back(s.currentState);
    }
    return states;
  }
  bool ClientAlive() const { return fake.processes.LastChild()->running; }
};

TEST_F(ServiceControlTest, AStopIsHandedToTheRunLoopWhichReportsProgressThenStoppedOnceAndLast) {
  fake.services.SetStartedByServiceManager(true);
  fake.clock.After(2000, [this] { Connect(); });
  fake.clock.After(3000, [this] {
    EXPECT_EQ(SendControl(service_control::kInterrogate), 0u);
    EXPECT_EQ(SendControl(128), win32_error::kCallNotImplemented);
  });
  // The client ignores the stop, but reports progress 4.5 s into it.
  fake.clock.After(10000, [this] {
    const std::size_t reports = fake.services.StatusReports().size();
    EXPECT_EQ(SendControl(service_control::kStop), 0u);
    // The handler has returned before anything was carried out: the client is neither told nor
    // ended, and the Service Control Manager has heard only that the stop is pending.
    EXPECT_TRUE(ClientAlive());
    EXPECT_TRUE(ClientEvents().empty());
    ASSERT_EQ(fake.services.StatusReports().size(), reports + 1);
    EXPECT_EQ(fake.services.StatusReports().back().currentState, service_state::kStopPending);
    const WideString text = u"saving";
    fake.clock.After(4500, [this, text] { ASSERT_EQ(calls.Progress(&text, 0), kSOk); });
  });
  host.service.StartRun(true, false);

  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_EQ(fake.clock.Elapsed(), 40000u) << "the client that did not end got the whole 30 s";
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kRunning,
                                        service_state::kStopPending, service_state::kStopped}));
  // While it waits, the checkpoint goes up by one at least every second, and once more for the
  // client's progress; the wait hint covers more than a second.
  std::vector<ServiceStatus> pending;
  for (const auto& s : fake.services.StatusReports()) {
    if (s.currentState == service_state::kStopPending) pending.push_back(s);
  }
  ASSERT_EQ(pending.size(), 32u);
  for (std::size_t i = 0; i < pending.size(); ++i) {
    EXPECT_EQ(pending[i].checkPoint, i + 1);
    EXPECT_GT(pending[i].waitHint, 1000u);
  }
  const ServiceStatus last = fake.services.StatusReports().back();
  EXPECT_EQ(last.currentState, service_state::kStopped);
  EXPECT_EQ(last.win32ExitCode, 0u);
  EXPECT_EQ(last.checkPoint, 0u);
  EXPECT_EQ(last.controlsAccepted, 0x105u) << "stop, shutdown and preshutdown";
  EXPECT_EQ(last.serviceType, 0x10u);
  EXPECT_EQ(Count(400), 1u);
  EXPECT_EQ(Logged(300), (std::vector<testing::LoggedEvent>{
                             {event_type::kWarning, category::kRun,
                              "Service Handler received unrecognized control code: 0x00000080"}}));
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(ServiceControlTest, ARunThatEndsOnAFailureReportsItsCodeAsTheServiceSpecificExitCode) {
  fake.services.SetStartedByServiceManager(true);
  // The client dies after 3 s, and its restart cannot start it.
  fake.clock.After(3000, [this] {
    fake.faults.Fail("CreateProcess", win32_error::kFileNotFound);
    fake.processes.ExitChild(fake.processes.LastChild()->processId, 3);
  });
  host.service.StartRun(true, false);
  EXPECT_TRUE(host.service.runFailed());
  EXPECT_EQ(host.service.runResult(), HResultFromWin32(win32_error::kFileNotFound));
  const auto reports = fake.services.StatusReports();
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kStopPending,
                                        service_state::kStopped}));
  EXPECT_EQ(reports.back().win32ExitCode, win32_error::kServiceSpecificError);
  EXPECT_EQ(reports.back().serviceSpecificExitCode, 0x80070002u);
  EXPECT_EQ(Count(106), 1u);
  EXPECT_EQ(Count(400), 1u);
}

TEST_F(ServiceControlTest, AnApplicationShutdownTellsTheClientAndGivesIt20Seconds) {
  // Without the Service Control Manager the service runs as an application; the system shuts
  // down at 3 s.
  fake.clock.After(1000, [this] { Connect(); });
  fake.clock.After(3000, [this] {
    fake.windowing.RunAsOtherThread([this] { host.service.Handler(service_control::kShutdown); });
  });
  host.service.StartRun(true, false);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kShutdown});
  EXPECT_EQ(fake.clock.Elapsed(), 23000u);
  EXPECT_FALSE(host.service.runAsService());
  EXPECT_EQ(Count(104), 1u);
  EXPECT_EQ(Count(401), 1u);
  EXPECT_EQ(Count(103) + Count(400) + Count(101) + Count(102), 0u);
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

TEST_F(ServiceControlTest, StopOptionAsksTheRunningHostAndWaitsUntilItHasEnded) {
  // None runs: nothing to do.
  host.service.StartRun(false, true);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_FALSE(host.service.runFailed());

  // One runs and ends 12 s after it was asked.
  fake.com.AddForeignHost(kServiceId, [this] {
    fake.clock.After(12000, [this] { fake.com.RemoveForeignHost(kServiceId); });
    return kSOk;
  });
  const std::uint64_t before = fake.clock.Elapsed();
  host.service.StartRun(false, true);
  EXPECT_EQ(fake.com.RequestStopCalls(kServiceId), 1);
  EXPECT_EQ(fake.clock.Elapsed() - before, 12000u);
  EXPECT_FALSE(host.service.runFailed());

  // One runs and does not end: /Stop gives up after the stop wait and a margin, and says so.
  fake.com.AddForeignHost(kServiceId, [] { return kSOk; });
  host.service.StartRun(false, true);
  EXPECT_EQ(
      Insertions(1001),
      std::vector<std::string>{"The running host was asked to stop but has not ended within 45 s"});
  EXPECT_TRUE(host.service.runFailed());
}

TEST_F(ServiceControlTest, AStartBesideARunningHostIsRefused) {
  fake.com.AddForeignHost(kServiceId, [] { return kSOk; });
  host.service.StartRun(false, false);
  EXPECT_EQ(Insertions(102), std::vector<std::string>{"Service is already running"});
  EXPECT_TRUE(host.service.runFailed());
  EXPECT_EQ(ClientStarts(), 0u);
}

TEST_F(ServiceControlTest, AClientThatEndsDuringTheStopIsNeitherADeathNorRestarted) {
  // The client ends on its own 2.5 s into the stop, and a watchdog tick and a restart asked for
  // meanwhile find the stop under way.
  fake.clock.After(1000, [this] { Connect(); });
  fake.clock.After(2000, [this] {
    fake.windowing.RunAsOtherThread([this] { host.service.Handler(service_control::kStop); });
  });
  fake.clock.After(4500, [this] {
    fake.processes.ExitChild(fake.processes.LastChild()->processId, 0);
    EXPECT_EQ(supervisor.WatchdogTick(), TickOutcome::kGoOn);
    ASSERT_EQ(calls.Restart(), kSOk);
  });
  RunHost();
  EXPECT_EQ(fake.clock.Elapsed(), 4500u) << "the stop waits only until the client ends";
  EXPECT_EQ(Count(108), 0u);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(Count(401), 1u);
}

TEST_F(ServiceControlTest, AClientThatConnectsDuringTheStopIsToldAtOnce) {
  fake.services.SetStartedByServiceManager(true);
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
  EXPECT_EQ(fake.clock.Elapsed(), 3000u);
  // A connect during the stop does not report the service running again.
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kStopPending,
                                        service_state::kStopped}));
}

TEST_F(ServiceControlTest, AClientThatEndsWithAListedExitCodeEndsTheRunCleanly) {
  fake.services.SetStartedByServiceManager(true);
  config.StopExitCodes = {0, 3};
  ClientProgram(fake::FakeProgram::ExitsAfter(4000, 3));
  host.service.StartRun(true, false);
  EXPECT_FALSE(host.service.runFailed());
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(Count(108), 0u);
  EXPECT_EQ(Insertions(1001),
            std::vector<std::string>{
                "The client ended with exit code 3, which StopExitCodes names: the host stops"});
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kStartPending, service_state::kStopPending,
                                        service_state::kStopped}));
  EXPECT_EQ(fake.services.StatusReports().back().win32ExitCode, 0u);
  EXPECT_EQ(Count(400), 1u);
}

// A client without a window is asked at once through its console and its windows; one with a
// window that ignores the stop notice is asked so after the grace.
TEST_F(ServiceControlTest, AStopAsksAClientWithoutAWindowAtOnce) {
  UseLogFile();
  fake::FakeProgram console;
  console.endsOnBreakAfter = 500;
  ClientProgram(console);
  fake.clock.After(2000, [this] {
    fake.windowing.RunAsOtherThread([this] { host.service.Handler(service_control::kStop); });
  });
  RunHost();
  EXPECT_EQ(fake.clock.Elapsed(), 2500u);
  EXPECT_EQ(fake.processes.LastChild()->consoleBreaks, 1);
  const std::string log = LogText();
  EXPECT_NE(
      testing::FindLine(log,
                        "Stop: the client has no window to be told of the stop; Ctrl+C (Ctrl+Break "
                        "cannot be sent here) sent to its console"),
      std::string::npos)
      << log;
  EXPECT_NE(testing::FindLine(log, "Stop: the client has no window for WM_CLOSE"),
            std::string::npos)
      << log;
}

TEST_F(ServiceControlTest, AStopAsksAClientThatIgnoresItsNoticeAfterTheGrace) {
  UseLogFile();
  // Its one window closes it 300 ms after WM_CLOSE.
  fake.windowing.OnCloseProcessWindows([this](std::uint32_t pid) {
    fake.clock.After(300, [this, pid] { fake.processes.ExitChild(pid, 0); });
    return std::size_t{1};
  });
  fake.clock.After(1000, [this] { Connect(); });
  fake.clock.After(2000, [this] {
    fake.windowing.RunAsOtherThread([this] { host.service.Handler(service_control::kStop); });
  });
  RunHost();
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_EQ(fake.clock.Elapsed(), 2000u + Supervisor::kStopGraceMs + 300u);
  const std::string log = LogText();
  EXPECT_NE(log.find("Stop: the client did not end within 10 s of the stop request; Ctrl+C"),
            std::string::npos)
      << log;
  EXPECT_NE(testing::FindLine(log, "Stop: WM_CLOSE posted to 1 window of the client"),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace keldran
