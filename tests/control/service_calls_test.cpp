// What each IService method does to the host, with the edge cases a client can produce.
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
    // Balloons need the icon and a started client; the window adds the icon.
    (void)host.window.Create(config.DisplayName);
  }

  RecordingRun run;
  // The calls under test, wired to the recording run instead of the host's.
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
  const auto balloons = fake.dialogs.Balloons();
  ASSERT_EQ(balloons.size(), 2u);
  EXPECT_EQ(balloons[0].info, "The server has paused");
  EXPECT_EQ(balloons[1].info, "The server has resumed");
  EXPECT_EQ(run.states,
            (std::vector<std::uint32_t>{service_state::kPaused, service_state::kRunning,
                                        service_state::kPaused, service_state::kRunning}));
}

TEST_F(ServiceCallsTest, ConnectReportsRunningOncePerClientAndAnswersTheThread) {
  fake.windowing.AddForeignWindow(0x1234);
  std::int32_t thread = 0;
  ASSERT_EQ(calls.Connect(0x1234, &thread), kSOk);
  ASSERT_EQ(calls.Connect(0x1234, &thread), kSOk);
  EXPECT_EQ(run.states, std::vector<std::uint32_t>{service_state::kRunning});
  EXPECT_EQ(static_cast<std::uint32_t>(thread), fake.windowing.CurrentThreadId());
  // Notices to the client go to its window with the registered message.
  supervisor.PostToClient(client_event::kShowStatus);
  auto posted = fake.windowing.MessagesTo(0x1234);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, fake.windowing.RegisterWindowMessage("KeldranService_Event"));
  EXPECT_EQ(posted[0].wParam, client_event::kShowStatus);
  // After a restart the new client's first Connect reports it again.
  ASSERT_EQ(calls.Restart(), kSOk);
  ASSERT_EQ(calls.Connect(0x5678, &thread), kSOk);
  EXPECT_EQ(run.states.size(), 2u);
  // Without Debug the connection is a log line; with it, event 115.
  EXPECT_EQ(Count(115), 0u);
  config.Debug = 1;
  ASSERT_EQ(calls.Connect(0x10, &thread), kSOk);
  EXPECT_EQ(Insertions(115), std::vector<std::string>{"16 (0x00000010)"});
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
  EXPECT_EQ(Count(105), 2u);
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
  UseLogFile();
  const struct {
    std::int32_t type;
    std::uint32_t shown;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 1}, {16, 1}, {-1, 1}};
  for (const auto& c : cases) {
    const WideString text = u"type " + fake.texts.AnsiToWide(std::to_string(c.type));
    ASSERT_EQ(calls.ShowBalloon(&text, c.type), kSOk);
    const auto shown = fake.dialogs.Balloons().back();
    EXPECT_EQ(shown.info, "type " + std::to_string(c.type));
    EXPECT_EQ(shown.infoFlags, c.shown) << c.type;
    const bool explained = LogText().find("ShowBalloon: Type " + std::to_string(c.type) +
                                          " is not a balloon kind") != std::string::npos;
    EXPECT_EQ(explained, c.type != static_cast<std::int32_t>(c.shown)) << c.type;
  }
  EXPECT_EQ(fake.dialogs.Balloons().front().timeoutOrVersion, 30000u);
  // A balloon without text removes the one shown.
  ASSERT_EQ(calls.ShowBalloon(nullptr, 1), kSOk);
  EXPECT_EQ(fake.dialogs.Balloons().back().info, "");
  EXPECT_EQ(fake.dialogs.Balloons().back().infoFlags, 0u);
  EXPECT_EQ(fake.dialogs.Balloons().back().timeoutOrVersion, 0u);
}

TEST_F(ServiceCallsTest, StatusTellsTheClientsLifeAsTheHostSeesIt) {
  auto status = [&] {
    WideString text;
    EXPECT_EQ(calls.Status(&text), kSOk);
    return fake.texts.WideToAnsi(text);
  };
  fake.clock.Advance(5000);
  const std::string pid = std::to_string(fake.processes.LastChild()->processId);
  EXPECT_EQ(status(), "ClientRunning=1\r\nProcessId=" + pid +
                          "\r\nRunSeconds=5\r\nRestarts=0\r\nHeartbeatAge=\r\nTimeout=60\r\n"
                          "Progress=\r\nPaused=0\r\nTimedOut=0\r\nStopping=0\r\nConnected=0\r\n"
                          "OutputFile=\r\nLastDump=\r\n");
  ASSERT_EQ(calls.Restart(), kSOk);
  ASSERT_EQ(calls.Restart(), kSOk);
  Connect();
  const WideString text = u"two\r\nlines";
  ASSERT_EQ(calls.Progress(&text, 90), kSOk);
  fake.clock.Advance(3000);
  std::string now = status();
  // A client's line break would start a line of its own.
  for (const char* line : {"Restarts=2", "RunSeconds=3", "HeartbeatAge=3", "Timeout=90",
                           "Progress=two  lines\r\n", "Paused=0", "Connected=1"}) {
    EXPECT_NE(now.find(line), std::string::npos) << line << "\n" << now;
  }
  ASSERT_EQ(calls.Pause(), kSOk);
  now = status();
  EXPECT_NE(now.find("Paused=1"), std::string::npos) << now;
}

}  // namespace
}  // namespace keldran
