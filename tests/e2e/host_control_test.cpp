// The real host's control interface as a client process sees it, and the ways a running host is
// stopped from outside: RequestStop and "/Stop".
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

using HostControlTest = HostTest;

// Calls through the type library marshaler and IDispatch, against a real INI file whose service
// account's password reaches neither a client nor a record; RequestStop ends the host.
TEST_F(HostControlTest, CallsWorkEarlyAndLateBoundNoneGivesThePasswordAndRequestStopEndsTheHost) {
  HostSetup setup;
  setup.iniLines = {"Trace=1"};
  // Only the service account's password is kept back, not another section's Logon.
  setup.moreIni = "[Client]\r\nGreeting=%COMP% in %INIDIR%\r\nLogon=not;secret\r\n";
  setup.script =
      "call=Log(1,early warning from the client)\n"
      "call=ReadIniString(Client,Greeting,none)\n"
      "call=ReadIniString(Service,,)\n"
      "call=ReadIniString(Client,Logon,)\n"
      // Late bound, optional Cat and MsgNumber left out.
      "dispatch=Log(2,late error from the client)\n"
      "dispatch=ReadIniString(SERVICE,logon,none)\n"
      "dispatch=NoSuchMethod()\n"
      // The stop may reach the client while its RequestStop call is still on its way back.
      "heartbeat=250\nwait=500\ncall=RequestStop()\n";
  ASSERT_TRUE(run_.Prepare(setup));
  // First in its section, so that the section's read gives it too.
  const std::string ini = run_.dir().Read("host.ini");
  ASSERT_TRUE(run_.dir().Write(
      "host.ini", "[Service]\r\nLogon=KELDRAN\\agent;s3cret!pw" + ini.substr(ini.find("\r\n"))));
  ASSERT_EQ(run_.Start(), 0u);
  WatchClient();
  ExpectHostEnds(0);

  ASSERT_TRUE(client_->WaitForExit(0));
  EXPECT_EQ(client_->ExitCode(), 0u) << run_.Out();
  const std::string out = run_.Out();
  const std::string expected[] = {
      "call Log hr=0x00000000",
      "call ReadIniString hr=0x00000000 value=" + run_.component() + " in " + run_.dir().path(),
      "dispatch Log hr=0x00000000",
      "dispatch NoSuchMethod hr=0x80020006",  // DISP_E_UNKNOWNNAME
      "event 1 stop",
      "value=not;secret\r\n"};
  for (const std::string& text : expected) EXPECT_TRUE(run_.OutHas(text)) << text << "\n" << out;
  EXPECT_EQ(run_.OutCount("value=KELDRAN\\agent\r\n"), 1u) << out;
  EXPECT_EQ(run_.OutCount("value=Logon=KELDRAN\\agent\r\n"), 1u) << out;
  EXPECT_EQ(out.find("s3cret"), std::string::npos) << out;

  const std::string log = run_.Log();
  EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
  EXPECT_NE(log.find("early warning from the client"), std::string::npos) << log;
  EXPECT_NE(log.find("late error from the client"), std::string::npos) << log;
  EXPECT_EQ(run_.LogCount("Service stopped (as application)"), 1u) << log;
}

// An ordinary client (no message filter) inside its calls when /Stop arrives: the host keeps
// answering them while it waits, so the client ends by itself instead of hanging in a call until
// the host kills it after 30 s. (A second start's refusal is the Wine unit tests'.)
TEST_F(HostControlTest, StopOfAClientBusyInItsCallsEndsItCleanly) {
  HostSetup setup;
  setup.clientOptions = "/plain";
  setup.script = "heartbeat=250\nwait=1000\nbusy=3000\nheartbeat=250\n";
  StartHost(setup);
  WatchClient();
  ASSERT_TRUE(run_.WaitForOut("step busy", kWaitMs)) << run_.Out();
  const DWORD before = GetTickCount();
  EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u) << run_.Log();
  // /Stop came back once the host had taken itself down.
  EXPECT_FALSE(IsInRunningObjectTable(run_.serviceId()));
  ExpectHostEnds(0);
  EXPECT_LT(GetTickCount() - before, 8000u) << run_.Out() << run_.Log();
  ASSERT_TRUE(client_->WaitForExit(0));
  EXPECT_EQ(client_->ExitCode(), 0u) << run_.Out();  // ended by itself, not killed with 1460
  EXPECT_TRUE(run_.OutHas("busy calls=")) << run_.Out();
  EXPECT_FALSE(run_.OutHas("busy calls=0 ")) << run_.Out();
  EXPECT_EQ(run_.LogCount("Client stopped unexpectedly"), 0u) << run_.Log();
}

}  // namespace
}  // namespace keldran::test
