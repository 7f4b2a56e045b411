// The real tray icon driven as a person drives it, with real mouse and keyboard input under
// Xvfb: a right click on the icon, Stop from the menu, OK in the confirmation, and the host ends
// as asked.
#include <vector>

#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

using HostTrayTest = HostTest;

// The visible top-level windows of a class, of one process or (pid 0) of any.
std::vector<HWND> VisibleWindows(const char* windowClass, DWORD pid = 0) {
  struct Search {
    const char* windowClass;
    DWORD pid;
    std::vector<HWND> found;
  } search{windowClass, pid, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        char name[64] = {};
        GetClassNameA(hwnd, name, sizeof name);
        if ((s->pid == 0 || owner == s->pid) && IsWindowVisible(hwnd) &&
            lstrcmpA(name, s->windowClass) == 0) {
          s->found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Without a notification area on the display, Wine's X11 driver shows the icons in a window of
// its own ("Wine System Tray"), one child window per icon, the newest on the right; an icon of
// a host that was killed stays there until it is clicked.
HWND NewestTrayIcon() {
  HWND newest = nullptr;
  LONG right = -1;
  for (HWND tray : VisibleWindows("__winex11_standalone_tray")) {
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

TEST_F(HostTrayTest, RightClickStopAndOkStopTheHostCleanly) {
  HostSetup setup;
  setup.timeoutSeconds = 30;
  setup.script = "heartbeat=250\n";
  StartHost(setup);
  WatchClient();
  const DWORD host = run_.host().Id();

  HWND icon = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (icon = NewestTrayIcon()) != nullptr; }, kWaitMs));
  Click(icon, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  ASSERT_TRUE(WaitUntil([&] { return !VisibleWindows("#32768", host).empty(); }, kWaitMs))
      << "no menu";
  // Show Status, then Stop.
  PressKeys({VK_DOWN, VK_DOWN, VK_RETURN});

  std::vector<HWND> boxes;
  ASSERT_TRUE(WaitUntil([&] { return !(boxes = VisibleWindows("#32770", host)).empty(); }, kWaitMs))
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
