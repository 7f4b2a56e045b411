// Script clients under the real host: Wine's cscript runs scripts that speak to the host only
// through KeldranGridUtil.Client, first of all the shipped sample. The DLL is registered in the
// test prefix with regsvr32, as an installation registers it.
#include "support_win32/host_test.h"

#include <cstdlib>
#include <memory>

namespace keldran::test {
namespace {

// regsvr32 on the DLL for the scope; /u at the end.
class DllRegistration {
 public:
  DllRegistration() : path_(ProgramPath("KeldranGridUtil.dll")) {
    exitCode_ = RunProgram("regsvr32 /s \"" + path_ + "\"").exitCode;
  }
  DllRegistration(const DllRegistration&) = delete;
  DllRegistration& operator=(const DllRegistration&) = delete;
  ~DllRegistration() { (void)RunProgram("regsvr32 /u /s \"" + path_ + "\""); }
  DWORD exitCode() const { return exitCode_; }

 private:
  std::string path_;
  DWORD exitCode_ = 0;
};

// The script's process, found from the window that the host logged at Connect.
DWORD ScriptPid(const std::string& log) {
  const size_t at = log.find("hwndClient=");
  DWORD pid = 0;
  if (at != std::string::npos) {
    GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<UINT_PTR>(
                                 std::strtoul(log.c_str() + at + 11, nullptr, 10))),
                             &pid);
  }
  return pid;
}

class GridUtilClientTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(dll_.exitCode(), 0u);
  }
  // The host with cscript running the script as its client, until the script has connected.
  void StartScript(const std::string& script, int timeoutSeconds) {
    HostSetup setup;
    setup.timeoutSeconds = timeoutSeconds;
    setup.clientCommand = "cscript.exe //nologo \"" + script + "\"";
    setup.iniLines = {"Trace=1"};  // every heartbeat is a log line
    StartHost(setup);
    ASSERT_TRUE(run_.WaitForLog("Client connected hwndClient=", kWaitMs)) << run_.Log();
    // Should the test fail, the host's end ends the script with it: the script is in the
    // host's kill-on-close job.
    script_ = std::make_unique<ProcessWatch>(ScriptPid(run_.Log()));
    ASSERT_TRUE(script_->valid());
  }
  // "/Stop" on a second command line; the host tells the script, which ends by itself: the host
  // did not have to kill it.
  void StopHostAndExpectScriptEnded() {
    EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u);
    ExpectHostEnds(0);
    ASSERT_TRUE(script_->WaitForExit(0));
    EXPECT_EQ(script_->ExitCode(), 0u);
    EXPECT_TRUE(run_.LogHas("Sending stop request to client")) << run_.Log();
  }

  DllRegistration dll_;
  std::unique_ptr<ProcessWatch> script_;
};

TEST_F(GridUtilClientTest, SampleKeepsAliveAnswersPingsWhileItSleepsAndEndsOnStop) {
  StartScript(ProgramPath("client.vbs"), 2);
  // Round 5 comes after the sample's first long step: 5 s without a heartbeat of its own.
  ASSERT_TRUE(run_.WaitForLog("prog=Round 5", kWaitMs)) << run_.Log();
  StopHostAndExpectScriptEnded();

  const std::string log = run_.Log();
  EXPECT_TRUE(run_.LogHas("Script client of ")) << log;
  EXPECT_EQ(run_.LogCount("Client started"), 1u) << log;
  EXPECT_FALSE(run_.LogHas("Client timed out")) << log;
  // During the long step the host pinged, and the helper answered each ping with a bare
  // heartbeat (no progress text), which only it sends.
  const size_t longStep = log.find("prog=Round 4");
  const size_t ping = log.find("Sending ping to client", longStep);
  ASSERT_NE(ping, std::string::npos) << log;
  EXPECT_NE(log.find("SetRunningTS timeout=2 prog=\r\n", ping), std::string::npos) << log;
  EXPECT_LT(ping, log.find("prog=Round 5")) << log;
}

// The stop reaches a script that waits with no call out, so the script itself goes on to its end
// after WaitForStop, and the script host's own clean-up (releasing the helper, COM's end) must
// not call the host, which serves no calls until the script's process has ended.
TEST_F(GridUtilClientTest, ScriptWaitingForStopRunsToItsEnd) {
  const std::string marker = run_.dir().File("stopped.txt");
  ASSERT_TRUE(
      run_.dir().Write("wait.vbs",
                       "Set grid = CreateObject(\"KeldranGridUtil.Client\")\r\n"
                       "grid.Connect\r\n"
                       "If grid.WaitForStop() Then CreateObject(\"Scripting.FileSystemObject\")"
                       ".CreateTextFile(\"" +
                           marker + "\").Close\r\n"));
  StartScript(run_.dir().File("wait.vbs"), 30);
  StopHostAndExpectScriptEnded();
  EXPECT_TRUE(FileExists(marker));
}

}  // namespace
}  // namespace keldran::test
