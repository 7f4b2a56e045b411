// The real host supervising the real test client as an application: heartbeats keep the client,
// silence gets it pinged, reported, killed and replaced, death gets it replaced at once, a pause
// holds the watchdog back, and a killed host takes its client along. Time-outs are a few seconds
// so that each case runs in seconds.
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kKilledForSilence = 1460;  // ERROR_TIMEOUT: the host's kill code

using HostSupervisionTest = HostTest;

TEST_F(HostSupervisionTest, HeartbeatsAndThenAPauseKeepTheClientPastItsTimeoutAndStopEndsTheHost) {
  HostSetup setup;
  setup.timeoutSeconds = 2;
  // Heartbeats, then paused (no heartbeats) for more than twice the time-out, then again.
  setup.script =
      "heartbeat=250\nprogress=warming up,0\nwait=4500\npause\nwait=4500\nresume\nwait=1500\n"
      "call=Stop()\n";
  StartHost(setup);
  WatchClient();
  EXPECT_TRUE(WaitUntil([&] { return IsInRunningObjectTable(run_.serviceId()); }, kWaitMs));
  ExpectHostEnds(0);

  // No ping, time-out or second client all along.
  const std::string out = run_.Out();
  EXPECT_EQ(run_.OutCount(" start instance="), 1u) << out;
  EXPECT_EQ(run_.OutCount("event 4 ping"), 0u) << out;
  EXPECT_GE(run_.OutCount("call Running hr=0x00000000"), 10u) << out;
  EXPECT_TRUE(run_.OutHas("call Pause hr=0x00000000")) << out;
  // The host's shutdown may kill the client before the answer to Stop reaches it.
  EXPECT_TRUE(run_.OutHas("step call=Stop()")) << out;
  const std::string log = run_.Log();
  for (const char* text :
       {"Service started (as application)",
        "Client connected hwndClient=", "Client requested pause (for debugging)",
        "Client requested resume (for debugging)", "Shutdown initiated by client"}) {
    EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
  }
  EXPECT_EQ(log.find("Client timed out"), std::string::npos) << log;
  EXPECT_EQ(log.find("Sending ping"), std::string::npos) << log;

  // The host's shutdown leaves no client behind.
  EXPECT_TRUE(client_->WaitForExit(0));
}

TEST_F(HostSupervisionTest, SilentClientIsPingedReportedKilledAndReplaced) {
  HostSetup setup;
  setup.timeoutSeconds = 2;
  ScratchDir files;
  const std::string doomed = files.File("scratch.dat");
  ASSERT_TRUE(WriteWholeFile(doomed, "left by the silent client"));
  // The first client reports progress once, names a file for the host to delete, then goes
  // silent; its replacement is healthy and ends the run.
  setup.script = "progress=Loading,0\ncall=DeleteFileOnTimeout(" + doomed + ")\nsilent\n";
  setup.laterSteps = "heartbeat=250;wait=1500;call=Stop()";
  StartHost(setup);

  WatchClient();
  ASSERT_TRUE(client_->WaitForExit(kWaitMs)) << run_.Out() << run_.Log();
  EXPECT_EQ(client_->ExitCode(), kKilledForSilence);
  ExpectHostEnds(0);

  const std::string out = run_.Out();
  EXPECT_GE(run_.OutCount("event 4 ping"), 1u) << out;
  ASSERT_EQ(ClientPids(out).size(), 2u) << out;
  EXPECT_TRUE(run_.OutHas("marker found: later steps")) << out;
  EXPECT_EQ(run_.OutCount("connected thread="), 2u) << out;
  // The ping came before the kill, and the replacement connected after it.
  EXPECT_LT(StampOf(out, "event 4 ping"), StampOf(out, " start instance=", 1)) << out;

  const std::string log = run_.Log();
  EXPECT_NE(log.find("Sending ping to client"), std::string::npos) << log;
  EXPECT_EQ(run_.LogCount("Client timed out without responding"), 1u) << log;
  EXPECT_NE(log.find("last progress was: Loading"), std::string::npos) << log;
  EXPECT_NE(log.find("Deleting file due to timeout " + doomed), std::string::npos) << log;
  EXPECT_EQ(run_.LogCount("Client started"), 2u) << log;
  EXPECT_FALSE(FileExists(doomed));
}

// The replacement is then left running, and the host killed as a crash or "taskkill /f" ends
// it, with no shutdown of its own: the client's job ends the client too.
TEST_F(HostSupervisionTest, DyingClientIsReplacedWithinAboutASecondAndDiesWithAKilledHost) {
  HostSetup setup;
  setup.timeoutSeconds = 30;
  setup.script = "wait=200\nexit=7\n";
  setup.laterSteps = "heartbeat=250";
  StartHost(setup);
  ASSERT_TRUE(run_.WaitForOutCount("connected thread=", 2, kWaitMs)) << run_.Out() << run_.Log();
  ASSERT_TRUE(WaitUntil([&] { return run_.LogCount("Client started") == 2; }, kWaitMs))
      << run_.Log();

  const std::string out = run_.Out();
  const std::vector<DWORD> pids = ClientPids(out);
  ASSERT_EQ(pids.size(), 2u) << out;
  const unsigned long died = StampOf(out, "exit 7");
  const unsigned long replaced = StampOf(out, "connected thread=", 1);
  ASSERT_NE(died, 0ul) << out;
  ASSERT_NE(replaced, 0ul) << out;
  // One watchdog tick at most, plus the start of a process.
  EXPECT_LT(replaced - died, 2000ul) << out;

  const std::string log = run_.Log();
  EXPECT_EQ(run_.LogCount("Client stopped unexpectedly"), 1u) << log;
  EXPECT_EQ(log.find("Client timed out"), std::string::npos) << log;
  EXPECT_LT(log.find("Client stopped unexpectedly"), log.rfind("Client started")) << log;

  ProcessWatch replacement(pids[1]);
  ASSERT_TRUE(replacement.valid());
  run_.host().Kill();
  EXPECT_TRUE(replacement.WaitForExit(5000)) << run_.Out();
}

}  // namespace
}  // namespace keldran::test
