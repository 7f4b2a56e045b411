// Script clients under the real host: Wine's cscript runs scripts that speak to the host only
// through KeldranGridUtil.Client (registered with regsvr32, as an installation does).
#include "support_win32/host_test.h"

#include <cstdlib>
#include <memory>

namespace keldran::test {
namespace {

class GridUtilClientTest : public HostTest {
 protected:
  void SetUp() override { ASSERT_EQ(RunProgram("regsvr32 /s \"" + dll_ + "\"").exitCode, 0u); }
  void TearDown() override { (void)RunProgram("regsvr32 /u /s \"" + dll_ + "\""); }
  // Runs the script as the host's client until it has connected, then "/Stop": the script must
  // end by itself, not be killed with the host's job.
  void RunScriptAndStop(const std::string& script, int timeoutSeconds, const std::string& waitFor) {
    HostSetup setup;
    setup.timeoutSeconds = timeoutSeconds;
    setup.clientCommand = "cscript.exe //nologo \"" + script + "\"";
    setup.iniLines = {"Trace=1"};  // every heartbeat is a log line
    StartHost(setup);
    ASSERT_TRUE(run_.WaitForLog("Client connected hwndClient=", kWaitMs)) << run_.Log();
    const std::string log = run_.Log();
    DWORD pid = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoul(
                                 log.c_str() + log.find("hwndClient=") + 11, nullptr, 10))),
                             &pid);
    ProcessWatch script(pid);
    ASSERT_TRUE(script.valid());
    ASSERT_TRUE(run_.WaitForLog(waitFor, kWaitMs)) << run_.Log();
    EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u);
    ExpectHostEnds(0);
    ASSERT_TRUE(script.WaitForExit(0));
    EXPECT_EQ(script.ExitCode(), 0u);
  }

  const std::string dll_ = ProgramPath("KeldranGridUtil.dll");
};

TEST_F(GridUtilClientTest, SampleKeepsAliveAnswersPingsWhileItSleepsAndEndsOnStop) {
  // Round 5 comes after the sample's first long step: 5 s without a heartbeat of its own.
  RunScriptAndStop(ProgramPath("client.vbs"), 2, "prog=Round 5");
  const std::string log = run_.Log();
  EXPECT_EQ(run_.LogCount("Client started"), 1u) << log;
  EXPECT_FALSE(run_.LogHas("Client timed out")) << log;
  // During the long step the host pinged, and the helper answered with a bare heartbeat (no
  // progress text), which only it sends.
  const size_t ping = log.find("Sending ping to client", log.find("prog=Round 4"));
  ASSERT_NE(ping, std::string::npos) << log;
  EXPECT_NE(log.find("SetRunningTS timeout=2 prog=\r\n", ping), std::string::npos) << log;
  EXPECT_LT(ping, log.find("prog=Round 5")) << log;
}

// A script that waits with no call out runs on to its end after WaitForStop, and the script
// host's own clean-up must not call the host, which serves no calls until the script has ended.
TEST_F(GridUtilClientTest, ScriptWaitingForStopRunsToItsEnd) {
  const std::string marker = run_.dir().File("stopped.txt");
  ASSERT_TRUE(
      run_.dir().Write("wait.vbs",
                       "Set grid = CreateObject(\"KeldranGridUtil.Client\")\r\n"
                       "grid.Connect\r\n"
                       "If grid.WaitForStop() Then CreateObject(\"Scripting.FileSystemObject\")"
                       ".CreateTextFile(\"" +
                           marker + "\").Close\r\n"));
  RunScriptAndStop(run_.dir().File("wait.vbs"), 30, "Client connected");
  EXPECT_TRUE(FileExists(marker));
}

}  // namespace
}  // namespace keldran::test
