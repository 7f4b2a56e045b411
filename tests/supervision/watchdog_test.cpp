// The watchdog in virtual time: pings, time-outs, kills and restarts, and the clients it must
// leave alone.
#include "support/host_fixture.h"

namespace keldran {
namespace {

class WatchdogTest : public testing::RunFixture {
 protected:
  WatchdogTest() {
    StartClient();
    Connect();
  }
  std::uint32_t FirstPid() const { return fake.processes.Children().front().processId; }
  // A debugger line ends with the text.
  bool DebugLine(const std::string& text) const {
    for (const std::string& line : fake.texts.DebugOutput())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST_F(WatchdogTest, SilentClientIsPingedInTheSecondHalfThenKilledAndRestarted) {
  Ticks(1);  // the first tick starts the clock
  Ticks(30);
  EXPECT_TRUE(ClientEvents().empty()) << "no ping during the first half";
  Ticks(1);
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kPing});
  Ticks(29);  // up to and including 60 s of silence
  EXPECT_EQ(ClientEvents().size(), 30u);
  EXPECT_EQ(Count(107), 0u);
  EXPECT_EQ(ClientStarts(), 1u);

  Ticks(1);  // the first tick past 60 s
  EXPECT_EQ(Count(107), 1u);
  auto children = fake.processes.Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_TRUE(children[0].terminated);
  EXPECT_EQ(children[0].exitCode, 1460u);
  EXPECT_TRUE(children[1].running);
  EXPECT_EQ(Count(105), 2u);
  EXPECT_TRUE(DebugLine("Client process " + std::to_string(children[0].processId) +
                        " killed with exit code 1460 after 62.0 s"));
  // The event is written once per silence: the restarted client gets a fresh one.
  Ticks(5);
  EXPECT_EQ(Count(107), 1u);
}

TEST_F(WatchdogTest, HeartbeatsKeepTheClientAlive) {
  for (int i = 0; i < 10; ++i) {
    Ticks(25);
    ASSERT_EQ(calls.Running(), kSOk);
  }
  EXPECT_TRUE(ClientEvents().empty());
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(Count(107), 0u);
}

TEST_F(WatchdogTest, TimeoutZeroOrPauseSwitchTimeOutsOff) {
  config.Timeout = 0;
  Ticks(300);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_TRUE(ClientEvents().empty());

  config.Timeout = 60;
  ASSERT_EQ(calls.Pause(), kSOk);
  Ticks(300);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_TRUE(ClientEvents().empty());
  // After Running the clock starts again from that call.
  ASSERT_EQ(calls.Running(), kSOk);
  Ticks(60);
  EXPECT_EQ(ClientStarts(), 1u);
  Ticks(1);
  EXPECT_EQ(ClientStarts(), 2u);
}

TEST_F(WatchdogTest, ADeadClientIsRestartedEveryTickWhateverTheSettings) {
  config.Timeout = 0;
  config.Debug = 1;
  ClientProgram(fake::FakeProgram{0, 3, {}});  // exits at once with code 3
  fake.processes.ExitChild(FirstPid(), 3);
  Ticks(3);
  EXPECT_EQ(Count(108), 3u);
  EXPECT_EQ(ClientStarts(), 4u);
  EXPECT_EQ(Count(105), 4u);
  EXPECT_EQ(fake.processes.Children()[0].exitCode, 3u);  // it ended by itself: no kill code
  EXPECT_TRUE(DebugLine("Client process " + std::to_string(FirstPid()) +
                        " ended with exit code 3 (0x00000003) after 1.0 s"));
}

TEST_F(WatchdogTest, AVisibleOrDebuggedClientIsReportedOnceButNotKilled) {
  config.Show = 1;
  Ticks(62);
  EXPECT_EQ(Count(107), 1u);
  Ticks(30);
  EXPECT_EQ(Count(107), 1u);
  EXPECT_EQ(ClientStarts(), 1u);
  // Recovery: event 118, and the next silence is a new one.
  ASSERT_EQ(calls.Running(), kSOk);
  EXPECT_EQ(Count(118), 1u);

  config.Show = 0;
  config.Debug = 1;
  fake.windowing.ClearMessagesTo(kClientWindow);
  Ticks(62);
  EXPECT_EQ(Count(107), 2u);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_TRUE(ClientEvents().empty()) << "Debug also stops the pings";
}

TEST_F(WatchdogTest, RecoveryAfterATimeOutIsReportedAndShownAsABalloon) {
  // A visible client past its time-out, then its heartbeat.
  config.Show = 1;
  ASSERT_EQ(host.window.Create(config.DisplayName), 0u);
  Ticks(62);
  ASSERT_EQ(calls.Running(), kSOk);
  auto balloons = fake.dialogs.Balloons();
  ASSERT_FALSE(balloons.empty());
  EXPECT_EQ(balloons.back().info, "Client resumed responding following timeout");
  EXPECT_EQ(balloons.back().infoFlags, 1u);
}

TEST_F(WatchdogTest, TheTimeOutEventQuotesTheLastProgress) {
  // No heartbeat ever stored a progress value: no string at all.
  Ticks(62);
  auto first = fake.eventLog.EventsWithId(107);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].strings, std::vector<std::string>{""});

  const WideString loading = u"Loading";
  ASSERT_EQ(calls.Progress(&loading, 0), kSOk);
  Ticks(62);
  auto second = fake.eventLog.EventsWithId(107);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1].strings, std::vector<std::string>{": last progress was: Loading"});

  ASSERT_EQ(calls.Running(), kSOk);  // a heartbeat without text stores an empty one
  Ticks(62);
  auto third = fake.eventLog.EventsWithId(107);
  ASSERT_EQ(third.size(), 3u);
  EXPECT_EQ(third[2].strings, std::vector<std::string>{": last progress was: "});
}

TEST_F(WatchdogTest, ProgressTimeoutLastsOneIntervalOnly) {
  const WideString text = u"Long step";
  ASSERT_EQ(calls.Progress(&text, 300), kSOk);
  Ticks(290);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(Count(107), 0u);
  ASSERT_EQ(calls.Running(), kSOk);  // back to the configured 60 s
  Ticks(61);
  EXPECT_EQ(Count(107), 1u);
  EXPECT_EQ(ClientStarts(), 2u);
}

TEST_F(WatchdogTest, TheNamedFileIsDeletedBeforeAndAfterTheKill) {
  fake.files.AddFile("C:\\Grid\\work.lock", "x");
  const WideString file = u"C:\\Grid\\work.lock";
  ASSERT_EQ(calls.DeleteFileOnTimeout(&file), kSOk);
  Ticks(62);
  EXPECT_FALSE(fake.files.Exists("C:\\Grid\\work.lock"));
  EXPECT_EQ(fake.eventLog.EventsWithId(121).at(0).strings,
            std::vector<std::string>{"C:\\Grid\\work.lock"});
  EXPECT_EQ(fake.faults.Calls("DeleteFile"), 2);

  // An empty text cancels an earlier file.
  fake.files.AddFile("C:\\Grid\\other.lock", "x");
  const WideString other = u"C:\\Grid\\other.lock";
  const WideString none;
  ASSERT_EQ(calls.DeleteFileOnTimeout(&other), kSOk);
  ASSERT_EQ(calls.DeleteFileOnTimeout(&none), kSOk);
  Ticks(62);
  EXPECT_TRUE(fake.files.Exists("C:\\Grid\\other.lock"));
  EXPECT_EQ(Count(121), 1u);
}

TEST_F(WatchdogTest, TheTickCountWrapRestartsTheClock) {
  fake.clock.SetTickCount(0xFFFFFFFFu - 20000);
  ASSERT_EQ(calls.Running(), kSOk);
  Ticks(30);  // the tick count wraps during these
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(Count(107), 0u);
  Ticks(61);
  EXPECT_EQ(ClientStarts(), 2u);
}

TEST_F(WatchdogTest, AFailedRestartEndsTheHost) {
  fake.faults.Fail("CreateProcess", win32_error::kFileNotFound);
  fake.processes.ExitChild(FirstPid(), 1);
  Ticks(1);
  EXPECT_EQ(Count(106), 1u);
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_TRUE(host.service.runFailed());
  Ticks(5);
  EXPECT_EQ(Count(108), 1u);  // no more checks once the client is not meant to run
}

TEST_F(WatchdogTest, ARestartedClientIsNotPingedThroughItsPredecessorsWindowButStillTimesOut) {
  Ticks(62);
  ASSERT_EQ(ClientStarts(), 2u);
  // The new client has not connected: nothing goes to the old client's window.
  fake.windowing.ClearMessagesTo(kClientWindow);
  Ticks(62);
  EXPECT_TRUE(ClientEvents().empty());
  EXPECT_EQ(ClientStarts(), 3u);
}

}  // namespace
}  // namespace keldran
