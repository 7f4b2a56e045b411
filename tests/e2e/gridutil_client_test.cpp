// Script clients under the real host: Wine's cscript runs scripts that speak to the host only
// through KeldranGridUtil.Client (registered with regsvr32, as an installation does).
#include "support_win32/host_test.h"

#include <cstdlib>

namespace keldran::test {
namespace {

class GridUtilClientTest : public HostTest {
 protected:
  void SetUp() override { ASSERT_EQ(RunProgram("regsvr32 /s \"" + dll_ + "\"").exitCode, 0u); }
  void TearDown() override { (void)RunProgram("regsvr32 /u /s \"" + dll_ + "\""); }

  const std::string dll_ = ProgramPath("KeldranGridUtil.dll");
};

// On "/Stop" the script must end by itself, not be killed with the host's job.
TEST_F(GridUtilClientTest, SampleKeepsAliveAnswersPingsWhileItSleepsAndEndsOnStop) {
  HostSetup setup;
  setup.timeoutSeconds = 2;
  setup.clientCommand = "cscript.exe //nologo \"" + ProgramPath("client.vbs") + "\"";
  setup.iniLines = {"Trace=1"};  // every heartbeat is a log line
  StartHost(setup);
  ASSERT_TRUE(run_.WaitForLog("Client connected hwndClient=", kWaitMs)) << run_.Log();
  std::string log = run_.Log();
  DWORD pid = 0;
  GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoul(
                               log.c_str() + log.find("hwndClient=") + 11, nullptr, 10))),
                           &pid);
  ProcessWatch script(pid);
  ASSERT_TRUE(script.valid());
  // Round 5 comes after the sample's first long step: 5 s without a heartbeat of its own.
  ASSERT_TRUE(run_.WaitForLog("prog=Round 5", kWaitMs)) << run_.Log();
  EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u);
  ExpectHostEnds(0);
  ASSERT_TRUE(script.WaitForExit(0));
  EXPECT_EQ(script.ExitCode(), 0u);

  log = run_.Log();
  EXPECT_EQ(run_.LogCount("Client started"), 1u) << log;
  EXPECT_FALSE(run_.LogHas("Client timed out")) << log;
  // During the long step the host pinged, and the helper answered with a bare heartbeat (no
  // progress text), which only it sends.
  const size_t ping = log.find("Sending ping to client", log.find("prog=Round 4"));
  ASSERT_NE(ping, std::string::npos) << log;
  EXPECT_NE(log.find("SetRunningTS timeout=2 prog=\r\n", ping), std::string::npos) << log;
  EXPECT_LT(ping, log.find("prog=Round 5")) << log;
}

}  // namespace
}  // namespace keldran::test
