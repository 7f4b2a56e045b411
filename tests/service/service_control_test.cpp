// The start operation, the service main function, status reports and the control handler.
#include <tuple>

#include "support/host_fixture.h"

namespace keldran {
namespace {

class ServiceControlTest : public testing::RunFixture {
 protected:
  // The Service Control Manager's controls arrive on the dispatcher's thread.
  Win32Error SendControl(std::uint32_t control) {
    Win32Error answer = 0;
    fake.windowing.RunAsOtherThread([&] { answer = fake.services.SendControl(control); });
    return answer;
  }
  void HandlerAt(std::uint64_t ms, std::uint32_t control) {
    fake.clock.After(ms, [this, control] {
      fake.windowing.RunAsOtherThread([this, control] { host.service.Handler(control); });
    });
  }
  std::vector<std::uint32_t> ReportedStates() const {
    std::vector<std::uint32_t> states;
    for (const auto& s : fake.services.StatusReports()) {
      if (states.empty() || states.back() != s.currentState) states.push_back(s.currentState);
    }
    return states;
  }
  void ExitClientAfter(std::uint64_t ms, std::uint32_t code) {
    const std::uint32_t pid = fake.processes.LastChild()->processId;
    fake.clock.After(ms, [this, pid, code] { fake.processes.ExitChild(pid, code); });
  }
  bool HasLine(const std::string& line) const {
    return testing::FindLine(LogText(), line) != std::string::npos;
  }
  const std::vector<std::uint32_t> kNeverRunning{
      service_state::kStartPending, service_state::kStopPending, service_state::kStopped};
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
    // The handler returns before anything is carried out.
    EXPECT_TRUE(fake.processes.LastChild()->running);
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
  // A checkpoint a second and one for the client's progress.
  std::uint32_t checkPoint = 0;
  for (const auto& s : fake.services.StatusReports()) {
    if (s.currentState != service_state::kStopPending) continue;
    EXPECT_EQ(s.checkPoint, ++checkPoint);
    EXPECT_GT(s.waitHint, 1000u);
  }
  EXPECT_EQ(checkPoint, 32u);
  const ServiceStatus last = fake.services.StatusReports().back();
  EXPECT_EQ(std::tie(last.currentState, last.win32ExitCode, last.checkPoint, last.controlsAccepted,
                     last.serviceType),
            std::make_tuple(service_state::kStopped, 0u, 0u, 0x105u, 0x10u));
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
  EXPECT_EQ(ReportedStates(), kNeverRunning);
  const ServiceStatus last = fake.services.StatusReports().back();
  EXPECT_EQ(last.win32ExitCode, win32_error::kServiceSpecificError);
  EXPECT_EQ(last.serviceSpecificExitCode, 0x80070002u);
  EXPECT_EQ(Count(106), 1u);
  EXPECT_EQ(Count(400), 1u);
}

TEST_F(ServiceControlTest, AnApplicationShutdownTellsTheClientAndGivesIt20Seconds) {
  fake.clock.After(1000, [this] { Connect(); });
  HandlerAt(3000, service_control::kShutdown);
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
  host.service.StartRun(false, true);  // none runs: nothing to do
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_FALSE(host.service.runFailed());

  fake.com.AddForeignHost(kServiceId, [this] {
    fake.clock.After(12000, [this] { fake.com.RemoveForeignHost(kServiceId); });
    return kSOk;
  });
  const std::uint64_t before = fake.clock.Elapsed();
  host.service.StartRun(false, true);
  EXPECT_EQ(fake.clock.Elapsed() - before, 12000u);
  EXPECT_FALSE(host.service.runFailed());

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

TEST_F(ServiceControlTest, AClientThatConnectsDuringTheStopIsToldAtOnce) {
  fake.services.SetStartedByServiceManager(true);
  fake.clock.After(1000, [this] { SendControl(service_control::kStop); });
  fake.clock.After(2000, [this] {
    Connect();
    ExitClientAfter(1000, 0);
  });
  host.service.StartRun(true, false);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_EQ(fake.clock.Elapsed(), 3000u);
  EXPECT_EQ(ReportedStates(), kNeverRunning) << "a connect while stopping is no start";
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
  EXPECT_EQ(ReportedStates(), kNeverRunning);
  EXPECT_EQ(fake.services.StatusReports().back().win32ExitCode, 0u);
}

// A client without a window is asked at once through its console; one whose window ignores the
// stop notice is asked after the grace.
TEST_F(ServiceControlTest, AStopAsksAClientWithoutAWindowAtOnce) {
  UseLogFile();
  fake::FakeProgram console;
  console.endsOnBreakAfter = 500;
  ClientProgram(console);
  HandlerAt(2000, service_control::kStop);
  RunHost();
  EXPECT_EQ(fake.clock.Elapsed(), 2500u);
  EXPECT_EQ(fake.processes.LastChild()->consoleBreaks, 1);
  EXPECT_TRUE(
      HasLine("Stop: the client has no window to be told of the stop; Ctrl+C (Ctrl+Break "
              "cannot be sent here) sent to its console"))
      << LogText();
  EXPECT_TRUE(HasLine("Stop: the client has no window for WM_CLOSE")) << LogText();
}

TEST_F(ServiceControlTest, AStopAsksAClientThatIgnoresItsNoticeAfterTheGrace) {
  UseLogFile();
  fake.windowing.OnCloseProcessWindows([this](std::uint32_t) {
    ExitClientAfter(300, 0);
    return std::size_t{1};
  });
  fake.clock.After(1000, [this] { Connect(); });
  HandlerAt(2000, service_control::kStop);
  RunHost();
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_EQ(fake.clock.Elapsed(), 2000u + Supervisor::kStopGraceMs + 300u);
  EXPECT_NE(LogText().find("Stop: the client did not end within 10 s of the stop request; Ctrl+C"),
            std::string::npos)
      << LogText();
  EXPECT_TRUE(HasLine("Stop: WM_CLOSE posted to 1 window of the client")) << LogText();
}

}  // namespace
}  // namespace keldran
