// The real host's control interface as a client process sees it, and the ways a running host is
// stopped from outside: RequestStop, "/Stop" and the tray icon's Stop with real input under Xvfb.
#include <vector>

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
      "call=ReadIniString( service , LOGON ,none)\n"
      "call=ReadIniString(Service,,)\n"
      "call=ReadIniString(Client,Logon,)\n"
      // Late bound, optional Cat and MsgNumber left out.
      "dispatch=Log(2,late error from the client)\n"
      "dispatch=ReadIniString(SERVICE,logon,none)\n"
      "dispatch=ShowBalloon(late balloon)\n"
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
      "dispatch ShowBalloon hr=0x00000000",
      "dispatch NoSuchMethod hr=0x80020006",  // DISP_E_UNKNOWNNAME
      "event 1 stop",
      "value=not;secret\r\n"};
  for (const std::string& text : expected) EXPECT_TRUE(run_.OutHas(text)) << text << "\n" << out;
  EXPECT_EQ(run_.OutCount("value=KELDRAN\\agent\r\n"), 2u) << out;
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

// Without a notification area, Wine's X11 driver shows the icons as child windows of its own
// "Wine System Tray" window, the newest on the right (a killed host's icon stays until clicked).
HWND NewestTrayIcon() {
  HWND newest = nullptr;
  LONG right = -1;
  for (HWND tray : TopLevelWindows("__winex11_standalone_tray")) {
    for (HWND icon = FindWindowExA(tray, nullptr, "__winex11_tray_icon", nullptr); icon;
         icon = FindWindowExA(tray, icon, "__winex11_tray_icon", nullptr)) {
      RECT r{};
      if (IsWindowVisible(icon) && GetWindowRect(icon, &r) && r.right > right) {
        right = r.right;
        newest = icon;
      }
    }
  }
  return newest;
}

void Click(HWND window, DWORD down, DWORD up) {
  RECT r{};
  GetWindowRect(window, &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT click[2] = {};
  click[0].type = click[1].type = INPUT_MOUSE;
  click[0].mi.dwFlags = down;
  click[1].mi.dwFlags = up;
  SendInput(2, click, sizeof(INPUT));
}

TEST_F(HostControlTest, RightClickStopAndOkStopTheHostCleanly) {
  HostSetup setup;
  setup.timeoutSeconds = 30;
  setup.script = "heartbeat=250\n";
  StartHost(setup);
  WatchClient();
  const DWORD host = run_.host().Id();

  HWND icon = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (icon = NewestTrayIcon()) != nullptr; }, kWaitMs));
  Click(icon, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  ASSERT_TRUE(WaitUntil([&] { return !TopLevelWindows("#32768", host).empty(); }, kWaitMs))
      << "no menu";
  // Show Status, then Stop.
  INPUT keys[6] = {};
  for (int i = 0; i < 6; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki = {static_cast<WORD>(i < 4 ? VK_DOWN : VK_RETURN), 0,
                  static_cast<DWORD>(i % 2 ? KEYEVENTF_KEYUP : 0), 0, 0};
  }
  SendInput(6, keys, sizeof(INPUT));

  std::vector<HWND> boxes;
  ASSERT_TRUE(
      WaitUntil([&] { return !(boxes = TopLevelWindows("#32770", host)).empty(); }, kWaitMs))
      << "no confirmation";
  HWND ok = GetDlgItem(boxes[0], IDOK);
  ASSERT_NE(ok, nullptr);
  Click(ok, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);

  ExpectHostEnds(0);
  EXPECT_TRUE(client_->WaitForExit(0));
  EXPECT_TRUE(run_.OutHas("event 1 stop")) << run_.Out();
}

}  // namespace
}  // namespace keldran::test
