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

TEST_F(WatchdogTest, SilentClientIsPingedInTheSecondHalfThenKilledAndRestartedAfresh) {
  Ticks(62);  // the first tick starts the clock; 30 pings; the 62nd is the first past 60 s
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>(30, client_event::kPing));
  EXPECT_EQ(Count(107), 1u);
  auto children = fake.processes.Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_TRUE(children[0].terminated);
  EXPECT_EQ(children[0].exitCode, 1460u);
  EXPECT_TRUE(children[1].running);
  EXPECT_TRUE(DebugLine("Client process " + std::to_string(children[0].processId) +
                        " killed with exit code 1460 after 62.0 s"));
  const Supervisor::Status s = supervisor.GetStatus();
  EXPECT_EQ(std::tuple(s.pings, s.timeouts, s.timeoutRestarts, s.deathRestarts, s.clientRestarts,
                       s.lastExitCode.value_or(0)),
            std::tuple(30u, 1u, 1u, 0u, 0u, 1460u));
  // The event is written once per silence: the restarted client gets a fresh one.
  Ticks(5);
  EXPECT_EQ(Count(107), 1u);
  // It has not connected: it is not pinged through its predecessor's window, but times out.
  fake.windowing.ClearMessagesTo(kClientWindow);
  Ticks(57);
  EXPECT_TRUE(ClientEvents().empty());
  EXPECT_EQ(ClientStarts(), 3u);
}

TEST_F(WatchdogTest, ADeadClientIsRestartedEveryTickWhateverTheSettingsUntilARestartFails) {
  config.Timeout = 0;
  config.Debug = 1;
  ClientProgram(fake::FakeProgram::ExitsAfter(0, 3));  // exits at once with code 3
  fake.processes.ExitChild(FirstPid(), 3);
  Ticks(3);
  EXPECT_EQ(Count(108), 3u);
  EXPECT_EQ(ClientStarts(), 4u);
  EXPECT_EQ(fake.processes.Children()[0].exitCode, 3u);  // it ended by itself: no kill code
  EXPECT_TRUE(DebugLine("Client process " + std::to_string(FirstPid()) +
                        " ended with exit code 3 (0x00000003) after 1.0 s"));
  EXPECT_EQ(std::pair(supervisor.GetStatus().deathRestarts,
                      supervisor.GetStatus().lastExitCode.value_or(0)),
            std::pair(3u, 3u));
  // A restart that fails ends the host, and the checks with it.
  fake.faults.Fail("CreateProcess", win32_error::kFileNotFound);
  Ticks(1);
  EXPECT_EQ(Count(106), 1u);
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_TRUE(host.service.runFailed());
  Ticks(5);
  EXPECT_EQ(Count(108), 4u);
}

TEST_F(WatchdogTest, WithABackoffAClientThatKeepsEndingIsStartedAgainLessAndLessOften) {
  config.RestartBackoff = 8;
  ClientProgram(fake::FakeProgram::ExitsAfter(200, 3));
  fake.processes.ExitChild(FirstPid(), 3);
  // Pauses of 1, 2, 4, 8 and 8 s: starts at 0, 2, 5, 10, 19 and 28 s.
  Ticks(30);
  EXPECT_EQ(ClientStarts(), 6u);
  EXPECT_EQ(Count(108), 6u);  // every end is still reported
  int grown = 0;
  for (const std::string& line : fake.texts.DebugOutput())
    grown += line.find("it is started again after") != std::string::npos;
  EXPECT_EQ(grown, 4);  // once each time the pause grows
  // A client that stays up starts the count again: its end restarts it at once, and a quick
  // end of the next one waits 1 s, not the longest pause.
  ClientProgram(fake::FakeProgram::ExitsAfter(61000, 3));
  Ticks(10);
  ASSERT_EQ(ClientStarts(), 7u);
  ClientProgram(fake::FakeProgram::ExitsAfter(200, 3));
  Ticks(62);
  EXPECT_EQ(ClientStarts(), 9u);
}

TEST_F(WatchdogTest, AVisibleClientIsReportedOnceAndItsRecoveryIsAnnounced) {
  config.Show = 1;
  ASSERT_EQ(host.window.Create(config.DisplayName), 0u);
  Ticks(92);
  EXPECT_EQ(Count(107), 1u);
  EXPECT_EQ(ClientStarts(), 1u);
  ASSERT_EQ(calls.Running(), kSOk);
  EXPECT_EQ(Count(118), 1u);
  ASSERT_FALSE(fake.dialogs.Balloons().empty());
  EXPECT_EQ(fake.dialogs.Balloons().back().info, "Client resumed responding following timeout");
  // A progress report's time-out lasts one interval only; the next silence is a new one.
  const WideString text = u"Long step";
  ASSERT_EQ(calls.Progress(&text, 300), kSOk);
  Ticks(290);
  EXPECT_EQ(Count(107), 1u);
  ASSERT_EQ(calls.Running(), kSOk);  // back to the configured 60 s
  Ticks(61);
  EXPECT_EQ(Count(107), 2u);
  EXPECT_EQ(supervisor.GetStatus().timeoutRestarts, 0u);
}

TEST_F(WatchdogTest, ATimeOutQuotesTheLastProgressAndDeletesTheNamedFileBeforeAndAfterTheKill) {
  fake.files.AddFile("C:\\Grid\\work.lock", "x");
  const WideString file = u"C:\\Grid\\work.lock";
  ASSERT_EQ(calls.DeleteFileOnTimeout(&file), kSOk);
  Ticks(62);  // no heartbeat ever stored a progress value: no text at all
  EXPECT_FALSE(fake.files.Exists("C:\\Grid\\work.lock"));
  EXPECT_EQ(Insertions(121), std::vector<std::string>{"C:\\Grid\\work.lock"});
  EXPECT_EQ(fake.faults.Calls("DeleteFile"), 2);

  // An empty text cancels an earlier file.
  fake.files.AddFile("C:\\Grid\\other.lock", "x");
  const WideString other = u"C:\\Grid\\other.lock";
  const WideString none;
  ASSERT_EQ(calls.DeleteFileOnTimeout(&other), kSOk);
  ASSERT_EQ(calls.DeleteFileOnTimeout(&none), kSOk);
  const WideString loading = u"Loading";
  ASSERT_EQ(calls.Progress(&loading, 0), kSOk);
  Ticks(62);
  EXPECT_TRUE(fake.files.Exists("C:\\Grid\\other.lock"));
  EXPECT_EQ(Count(121), 1u);
  ASSERT_EQ(calls.Running(), kSOk);  // a heartbeat without text stores an empty one
  Ticks(62);
  EXPECT_EQ(Insertions(107), (std::vector<std::string>{"", ": last progress was: Loading",
                                                       ": last progress was: "}));
}

}  // namespace
}  // namespace keldran
