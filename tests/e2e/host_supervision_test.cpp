// The real host supervising the real test client: silence gets it pinged, killed and replaced,
// death gets it replaced at once, and a killed host takes its client along. (Heartbeats and a
// pause are the watchdog's native tests'.)
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kKilledForSilence = 1460;  // ERROR_TIMEOUT: the host's kill code

using HostSupervisionTest = HostTest;

TEST_F(HostSupervisionTest, SilentClientIsPingedReportedKilledAndReplaced) {
  HostSetup setup;
  setup.timeoutSeconds = 2;
  setup.script = "progress=Loading,0\nsilent\n";
  setup.laterSteps = "heartbeat=250;wait=1500;call=Stop()";
  StartHost(setup);

  WatchClient();
  ASSERT_TRUE(client_->WaitForExit(kWaitMs)) << run_.Out() << run_.Log();
  EXPECT_EQ(client_->ExitCode(), kKilledForSilence);
  ExpectHostEnds(0);

  const std::string out = run_.Out();
  EXPECT_GE(run_.OutCount("event 4 ping"), 1u) << out;
  ASSERT_EQ(ClientPids(out).size(), 2u) << out;
  EXPECT_LT(StampOf(out, "event 4 ping"), StampOf(out, " start instance=", 1)) << out;

  const std::string log = run_.Log();
  EXPECT_EQ(run_.LogCount("Client timed out without responding"), 1u) << log;
  EXPECT_NE(log.find("last progress was: Loading"), std::string::npos) << log;
}

// How fast the replacement comes is bench_restart's measure. It is then left running, and the
// host killed as a crash or "taskkill /f" ends it: the client's job ends the client too.
TEST_F(HostSupervisionTest, DyingClientIsReplacedAndTheReplacementDiesWithAKilledHost) {
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
  EXPECT_EQ(run_.LogCount("Client stopped unexpectedly"), 1u) << run_.Log();

  ProcessWatch replacement(pids[1]);
  ASSERT_TRUE(replacement.valid());
  run_.host().Kill();
  EXPECT_TRUE(replacement.WaitForExit(5000)) << run_.Out();
}

}  // namespace
}  // namespace keldran::test
