// What each IService method does to the host, with the edge cases a client can produce.
#include <tuple>

#include "app/status_report.h"
#include "log/text.h"
#include "support/host_fixture.h"

namespace keldran {
namespace {

using testing::LoggedEvent;

// The run as the calls see it, recording what they ask of it.
struct RecordingRun final : IRunControl {
  void RequestStop() override { ++stops; }
  void RequestQuit() override { ++quits; }
  void FailRun(HResult) override { ++failures; }
  void SetServiceState(std::uint32_t state) override { states.push_back(state); }
  void ReportStopProgress() override { ++progress; }
  void Lock() override {}
  void Unlock() override {}
  int stops = 0, quits = 0, failures = 0, progress = 0;
  std::vector<std::uint32_t> states;
};

class ServiceCallsTest : public testing::RunFixture {
 protected:
  ServiceCallsTest() {
    StartClient();
    // Balloons need a started client and the window's icon.
    (void)host.window.Create(config.DisplayName);
  }

  RecordingRun run;
  ServiceCalls calls{fake.platform(), host.events, host.ini, supervisor, host.window, run};
};

TEST_F(ServiceCallsTest, PauseAndResumeAreReportedAndShownUnlessTheHostIsQuiet) {
  ASSERT_EQ(calls.Pause(), kSOk);
  ASSERT_EQ(calls.Running(), kSOk);
  ASSERT_EQ(calls.Running(), kSOk);  // a second heartbeat: nothing more
  host.flags.Quiet = true;
  ASSERT_EQ(calls.Pause(), kSOk);
  const WideString text = u"going";
  ASSERT_EQ(calls.Progress(&text, 0), kSOk);  // a progress report resumes too
  EXPECT_EQ(Count(109), 2u);
  EXPECT_EQ(Count(110), 2u);
  EXPECT_EQ(fake.dialogs.Balloons().size(), 2u);
  EXPECT_EQ(run.states,
            (std::vector<std::uint32_t>{service_state::kPaused, service_state::kRunning,
                                        service_state::kPaused, service_state::kRunning}));
}

TEST_F(ServiceCallsTest, ConnectReportsRunningOnceAndAnswersTheThread) {
  fake.windowing.AddForeignWindow(0x1234);
  std::int32_t thread = 0;
  ASSERT_EQ(calls.Connect(0x1234, &thread), kSOk);
  ASSERT_EQ(calls.Connect(0x1234, &thread), kSOk);
  EXPECT_EQ(run.states, std::vector<std::uint32_t>{service_state::kRunning});
  EXPECT_EQ(static_cast<std::uint32_t>(thread), fake.windowing.CurrentThreadId());
}

TEST_F(ServiceCallsTest, LogMapsTypesAndDefaults) {
  const WideString text = u"disk almost full";
  EXPECT_EQ(calls.Log(3, &text, 0, 0), kEInvalidArg);
  EXPECT_EQ(calls.Log(-1, &text, 0, 0), kEInvalidArg);
  ASSERT_EQ(calls.Log(1, &text, 0, 0), kSOk);
  ASSERT_EQ(calls.Log(0, nullptr, 0, 0), kSOk);
  ASSERT_EQ(calls.Log(2, &text, 14, 7001), kSOk);
  EXPECT_EQ(Logged(2000),
            (std::vector<LoggedEvent>{{event_type::kWarning, category::kRun, "disk almost full"},
                                      {event_type::kInformation, category::kRun, ""}}));
  EXPECT_EQ(Logged(7001), (std::vector<LoggedEvent>{{event_type::kError, 14, "disk almost full"}}));
}

TEST_F(ServiceCallsTest, StopAndRestartEndOrRenewTheClient) {
  EXPECT_EQ(fake.processes.LastChild()->showWindow, show_window::kHide);
  ASSERT_EQ(calls.NotifyVisible(1), kSOk);
  ASSERT_EQ(calls.Restart(), kSOk);
  EXPECT_EQ(Count(119), 1u);
  auto children = fake.processes.Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].exitCode, 1460u);
  EXPECT_TRUE(children[1].running);
  EXPECT_EQ(children[1].showWindow, show_window::kShow);  // the latest show state

  // A stop request is handed to the run, which carries it out later; the call ends nothing.
  ASSERT_EQ(calls.RequestStop(), kSOk);
  EXPECT_TRUE(supervisor.ClientRunning());
  EXPECT_EQ(run.stops, 1);
  EXPECT_EQ(run.quits, 0);
  ASSERT_EQ(calls.Stop(), kSOk);
  EXPECT_EQ(Count(111), 1u);
  EXPECT_EQ(run.quits, 1);

  // A restart that cannot start the client ends the run as a failure.
  fake.faults.Fail("CreateProcess", win32_error::kAccessDenied);
  ASSERT_EQ(calls.Restart(), kSOk);
  EXPECT_EQ(run.failures, 1);
}

TEST_F(ServiceCallsTest, ABalloonTypeThatIsNoKindShowsAsInformationAndNoTextRemovesTheBalloon) {
  for (const auto& [type, shown] :
       {std::pair{0, 0u}, std::pair{3, 3u}, std::pair{4, 1u}, std::pair{-1, 1u}}) {
    const WideString text = u"text";
    ASSERT_EQ(calls.ShowBalloon(&text, type), kSOk);
    EXPECT_EQ(fake.dialogs.Balloons().back().infoFlags, shown) << type;
  }
  EXPECT_EQ(fake.dialogs.Balloons().front().timeoutOrVersion, 30000u);
  ASSERT_EQ(calls.ShowBalloon(nullptr, 1), kSOk);
  const auto removal = fake.dialogs.Balloons().back();
  EXPECT_EQ(std::tie(removal.info, removal.infoFlags, removal.timeoutOrVersion),
            std::make_tuple("", 0u, 0u));
}

TEST_F(ServiceCallsTest, StatusTellsTheClientsLifeAsTheHostSeesIt) {
  auto status = [&] {
    WideString text;
    EXPECT_EQ(calls.Status(&text), kSOk);
    return text;
  };
  fake.clock.Advance(5000);
  HostStatus now = ParseHostStatus(Utf8FromWide(status()));
  EXPECT_TRUE(now.clientRunning && !now.connected && !now.heartbeatAge && !now.lastExitCode);
  EXPECT_EQ(now.processId, fake.processes.LastChild()->processId);
  EXPECT_EQ(now.startTime, fake.clock.Time64() - 5);
  ASSERT_EQ(calls.Restart(), kSOk);
  ASSERT_EQ(calls.Restart(), kSOk);
  Connect();
  // A client's line break would start a line of its own; characters beyond the code page stay.
  const WideString text = u"two\r\nlines \u00e9\u4e2d";
  ASSERT_EQ(calls.Progress(&text, 90), kSOk);
  fake.clock.Advance(3000);
  now = ParseHostStatus(Utf8FromWide(status()));
  EXPECT_EQ(now.restarts, 2u);
  EXPECT_EQ(now.clientRestarts, 2u);
  EXPECT_EQ(now.lastExitCode, 1460u);
  EXPECT_EQ(now.runSeconds, 3u);
  EXPECT_EQ(now.heartbeatAge, 3u);
  EXPECT_EQ(now.timeout, 90u);
  EXPECT_EQ(now.progress, "two  lines \u00e9\u4e2d");
  EXPECT_TRUE(now.connected && !now.paused);
  ASSERT_EQ(calls.Pause(), kSOk);
  EXPECT_TRUE(ParseHostStatus(Utf8FromWide(status())).paused);
}

}  // namespace
}  // namespace keldran
