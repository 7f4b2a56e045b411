// Programs that know nothing of IService under the real host: a console client sees the
// environment, priority and processors it was configured with and ends the run with an exit code
// that says it is done; a stop reaches a console client without a window through its console, and
// a windowed client that ignores the stop notice through WM_CLOSE.
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

using ClientSurroundingsTest = HostTest;

std::string ConsoleClient(const std::string& steps) {
  return "\"" + ProgramPath("echo_child.exe") + "\" client.out " + steps;
}

TEST_F(ClientSurroundingsTest, AConsoleClientSeesItsSettingsAndAListedExitCodeEndsTheRun) {
  HostSetup setup;
  setup.clientCommand =
      ConsoleClient("report=KELDRAN_GREETING report=KeldranService_PDF_PARAMS sleep=500 exit=3");
  setup.iniLines = {"Priority=Below Normal", "Affinity=0", "StopExitCodes=0,3"};
  // A configured variable cannot stand in for the host's parameters.
  setup.moreIni =
      "[Environment]\r\nKELDRAN_GREETING=%COMP% says "
      "hello\r\nKeldranService_PDF_PARAMS=spoofed\r\n";
  StartHost(setup);
  ExpectHostEnds(0);
  const std::string out = run_.Out();
  EXPECT_TRUE(run_.OutHas("env KELDRAN_GREETING=" + run_.component() + " says hello")) << out;
  EXPECT_TRUE(run_.OutHas("env KeldranService_PDF_PARAMS= /ServiceID=" + run_.serviceId())) << out;
  EXPECT_TRUE(run_.OutHas("priority 0x4000")) << out;  // BELOW_NORMAL_PRIORITY_CLASS
  EXPECT_TRUE(run_.OutHas("affinity 0x1")) << out;
  const std::string log = run_.Log();
  EXPECT_EQ(run_.LogCount("Client started"), 1u) << log;
  EXPECT_EQ(run_.LogCount("exit code 3, which StopExitCodes names"), 1u) << log;
  EXPECT_EQ(run_.LogCount("Client stopped unexpectedly"), 0u) << log;
}

TEST_F(ClientSurroundingsTest,
       AStopAsksAClientWithoutAWindowThroughItsConsoleAndOneThatIgnoresItsNoticeWithWmClose) {
  HostSetup setup;
  setup.timeoutSeconds = 30;
  setup.clientCommand = ConsoleClient("wait");
  StartHost(setup);
  ASSERT_TRUE(run_.WaitForLog("Client started", kWaitMs)) << run_.Log();
  DWORD before = GetTickCount();
  EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u) << run_.Log();
  ExpectHostEnds(0);
  EXPECT_LT(GetTickCount() - before, 8000u) << "within the grace, not after the whole wait";
  // Wine cannot send Ctrl+Break; the host falls back to Ctrl+C (event 0).
  EXPECT_TRUE(run_.OutHas("ctrl ")) << run_.Out();
  EXPECT_NE(run_.Log().find("Stop: the client has no window to be told of the stop;"),
            std::string::npos)
      << run_.Log();

  HostRun windowed;
  HostSetup ignoring;
  ignoring.timeoutSeconds = 30;
  ignoring.script = "heartbeat=250\nignorestop\n";
  ASSERT_TRUE(windowed.Prepare(ignoring));
  ASSERT_EQ(windowed.Start(), 0u);
  ASSERT_TRUE(windowed.WaitForOut("connected thread=", kWaitMs)) << windowed.Out();
  before = GetTickCount();
  EXPECT_EQ(windowed.RunAgain("/Stop").exitCode, 0u) << windowed.Log();
  ASSERT_TRUE(windowed.host().WaitForExit(kWaitMs));
  const DWORD took = GetTickCount() - before;
  EXPECT_GE(took, 9000u);
  EXPECT_LT(took, 20000u) << "after the grace, not after the whole wait";
  EXPECT_TRUE(windowed.OutHas("exit 0")) << windowed.Out();
  const std::string log = windowed.Log();
  EXPECT_NE(log.find("Stop: the client did not end within 10 s of the stop request"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Stop: WM_CLOSE posted to"), std::string::npos) << log;
}

}  // namespace
}  // namespace keldran::test
