// The real host's control interface as a client process sees it, early and late bound, and the
// ways a running host is stopped from outside: the client's RequestStop through the service
// window, "/Stop" on a second command line, and the tray icon's Stop driven with real mouse and
// keyboard input under Xvfb; a second start of the same component is refused.
#include <vector>

#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kEFail = 0x80004005;

using HostControlTest = HostTest;

// The service account's password reaches neither a client nor a record; the client's
// RequestStop ends the host through the client's window.
TEST_F(HostControlTest, CallsWorkEarlyAndLateBoundNoneGivesThePasswordAndRequestStopEndsTheHost) {
  HostSetup setup;
  setup.iniLines = {"Trace=1"};
  // Only the service account's password is kept back, not another section's Logon.
  setup.moreIni = "[Client]\r\nGreeting=%COMP% in %INIDIR%\r\nFirst=one\r\nLogon=not;secret\r\n";
  setup.script =
      "call=Log(1,early warning from the client)\n"
      // A message number that the table lacks still carries the client's text.
      "call=Log(1,unlisted message from the client,4,4242)\n"
      "call=ReadIniString(Client,Greeting,none)\n"
      "call=ReadIniString(Client,Missing,fallback for %COMP%)\n"
      "call=ReadIniString(Client,,)\n"
      "call=ReadIniString(Service,Logon,none)\n"
      "call=ReadIniString( service , LOGON ,none)\n"
      "call=ReadIniString(Service,,)\n"
      "call=ReadIniString(Client,Logon,)\n"
      // Late bound: names looked up at run time, optional Cat and MsgNumber left out.
      "dispatch=Log(2,late error from the client)\n"
      "dispatch=ReadIniString(Client,Greeting,none)\n"
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

  // The client heard the stop and ended itself before the host ended.
  ASSERT_TRUE(client_->WaitForExit(0));
  EXPECT_EQ(client_->ExitCode(), 0u) << run_.Out();
  const std::string out = run_.Out();
  const std::string greeting = run_.component() + " in " + run_.dir().path();
  const std::string expected[] = {
      "call Log hr=0x00000000", "call ReadIniString hr=0x00000000 value=" + greeting,
      "value=fallback for " + run_.component(),
      // An empty key reads the section, of which only the first entry comes back.
      "value=Greeting=" + greeting + "\r\n", "dispatch Log hr=0x00000000",
      "dispatch ReadIniString hr=0x00000000 value=" + greeting,
      "dispatch ShowBalloon hr=0x00000000",
      "dispatch NoSuchMethod hr=0x80020006",  // DISP_E_UNKNOWNNAME
      "step call=RequestStop()", "event 1 stop", "value=not;secret\r\n"};
  for (const std::string& text : expected) {
    EXPECT_TRUE(run_.OutHas(text)) << text << "\n" << out;
  }
  EXPECT_EQ(run_.OutCount("value=KELDRAN\\agent\r\n"), 3u) << out;
  EXPECT_EQ(run_.OutCount("value=Logon=KELDRAN\\agent\r\n"), 1u) << out;
  EXPECT_EQ(out.find("s3cret"), std::string::npos) << out;

  // Each Log call is an event, and every event is also a log record under its banner.
  const std::string log = run_.Log();
  EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
  const size_t warning = log.find("==================== WARNING.Log ====================");
  ASSERT_NE(warning, std::string::npos) << log;
  EXPECT_NE(log.find("early warning from the client", warning), std::string::npos) << log;
  EXPECT_NE(log.find("WARNING.Log ====================\r\n\r\nunlisted message from the client"),
            std::string::npos)
      << log;
  const size_t error = log.find("==================== ERROR.Log ====================");
  ASSERT_NE(error, std::string::npos) << log;
  EXPECT_NE(log.find("late error from the client", error), std::string::npos) << log;
  EXPECT_NE(log.find("Sending stop request to client"), std::string::npos) << log;
  EXPECT_EQ(run_.LogCount("Service stopped (as application)"), 1u) << log;
}

// The second start is refused while the first host runs. Then an ordinary client (no message
// filter) that is inside its calls when /Stop arrives: the host keeps answering them while it
// waits, so the client hears the stop once its work is done and ends by itself, instead of
// hanging in a call until the host kills it after 30 s.
TEST_F(HostControlTest, SecondHostIsRefusedAndStopOfAClientBusyInItsCallsEndsItCleanly) {
  HostSetup setup;
  setup.clientOptions = "/plain";
  // Busy only once the second starts are done with.
  setup.script = "heartbeat=250\nwait=5000\nbusy=3000\nheartbeat=250\n";
  StartHost(setup);
  WatchClient();

  // The refusal ends with the exit notice, a message box that the run dismisses.
  RunOptions boxes;
  boxes.handleBoxes = true;
  const RunResult second = run_.RunAgain("", boxes);
  ASSERT_TRUE(second.started);
  EXPECT_FALSE(second.timedOut);
  EXPECT_EQ(second.exitCode, kEFail);
  ASSERT_EQ(second.boxes.size(), 1u);
  EXPECT_NE(second.boxes[0].text.find("Service is already running"), std::string::npos)
      << second.boxes[0].text;
  EXPECT_NE(run_.Log().find("Service is already running"), std::string::npos) << run_.Log();
  // The same refusal with /Quiet shows nothing.
  const RunResult quiet = run_.RunAgain("/Quiet", boxes);
  EXPECT_EQ(quiet.exitCode, kEFail);
  EXPECT_TRUE(quiet.boxes.empty());
  EXPECT_EQ(run_.LogCount("Service is already running"), 2u) << run_.Log();
  EXPECT_TRUE(run_.host().IsRunning());

  ASSERT_TRUE(run_.WaitForOut("step busy", kWaitMs)) << run_.Out();
  const DWORD before = GetTickCount();
  const RunResult stop = run_.RunAgain("/Stop", boxes);
  ASSERT_TRUE(stop.started);
  EXPECT_EQ(stop.exitCode, 0u) << run_.Log();
  // /Stop came back once the host had taken itself down.
  EXPECT_FALSE(IsInRunningObjectTable(run_.serviceId()));
  EXPECT_TRUE(stop.boxes.empty());
  ExpectHostEnds(0);
  EXPECT_LT(GetTickCount() - before, 8000u) << run_.Out() << run_.Log();
  ASSERT_TRUE(client_->WaitForExit(0));
  EXPECT_EQ(client_->ExitCode(), 0u) << run_.Out();  // ended by itself, not killed with 1460
  const std::string out = run_.Out();
  EXPECT_TRUE(run_.OutHas("busy calls=")) << out;
  EXPECT_FALSE(run_.OutHas("busy calls=0 ")) << out;
  EXPECT_TRUE(run_.OutHas("event 1 stop")) << out;
  EXPECT_EQ(run_.LogCount("Client stopped unexpectedly"), 0u) << run_.Log();

  // With no host left, /Stop has nothing to do.
  const RunResult idle = run_.RunAgain("/Stop", boxes);
  EXPECT_EQ(idle.exitCode, 0u) << run_.Log();
  EXPECT_TRUE(idle.boxes.empty());
}

// Without a notification area on the display, Wine's X11 driver shows the icons in a window of
// its own ("Wine System Tray"), one child window per icon, the newest on the right; an icon of
// a host that was killed stays there until it is clicked.
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

void PressKeys(const std::vector<WORD>& keys) {
  std::vector<INPUT> input;
  for (WORD key : keys) {
    INPUT press{};
    press.type = INPUT_KEYBOARD;
    press.ki.wVk = key;
    input.push_back(press);
    press.ki.dwFlags = KEYEVENTF_KEYUP;
    input.push_back(press);
  }
  SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
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
  PressKeys({VK_DOWN, VK_DOWN, VK_RETURN});

  std::vector<HWND> boxes;
  ASSERT_TRUE(
      WaitUntil([&] { return !(boxes = TopLevelWindows("#32770", host)).empty(); }, kWaitMs))
      << "no confirmation";
  char text[256] = {};
  GetDlgItemTextA(boxes[0], 0xFFFF, text, sizeof text);
  // Each component's own display name.
  EXPECT_EQ(std::string(text),
            "Please confirm you want to stop Keldran Grid Agent 3.21 (" + run_.component() + ")?");
  HWND ok = GetDlgItem(boxes[0], IDOK);
  ASSERT_NE(ok, nullptr);
  Click(ok, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);

  ExpectHostEnds(0);
  EXPECT_TRUE(client_->WaitForExit(0));
  EXPECT_TRUE(run_.OutHas("event 1 stop")) << run_.Out();
}

}  // namespace
}  // namespace keldran::test
