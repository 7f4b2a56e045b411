// IDialogs: the tray icon, message boxes and popup menus.
#include <algorithm>

#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

// Copies as much as fits and always terminates.
template <std::size_t N>
void CopyCut(char (&target)[N], const std::string& text) {
  std::size_t n = std::min(text.size(), N - 1);
  std::copy_n(text.data(), n, target);
  target[n] = '\0';
}

HMENU Menu(MenuHandle menu) { return FromSeam<HMENU>(menu); }

class Dialogs final : public IDialogs {
 public:
  bool NotifyIcon(std::uint32_t operation, const NotifyIconData& data) override {
    NOTIFYICONDATAA nid{};
    // The record up to dwInfoFlags (balloons and versions, no GUID or balloon icon): on x64 the
    // 64-bit layout of what is the 488-byte record in 32-bit code.
    nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
    nid.hWnd = ToHwnd(data.window);
    nid.uID = data.id;
    nid.uFlags = data.flags;
    nid.uCallbackMessage = data.callbackMessage;
    nid.hIcon = FromSeam<HICON>(data.icon);
    CopyCut(nid.szTip, data.tip);
    CopyCut(nid.szInfo, data.info);
    nid.uTimeout = data.timeoutOrVersion;
    CopyCut(nid.szInfoTitle, data.infoTitle);
    nid.dwInfoFlags = data.infoFlags;
    return ::Shell_NotifyIconA(operation, &nid) != FALSE;
  }

  int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                 std::uint32_t style) override {
    return ::MessageBoxA(ToHwnd(owner), text.c_str(), caption.c_str(), style);
  }

  MenuHandle CreatePopupMenu() override { return ToSeam<MenuHandle>(::CreatePopupMenu()); }

  bool AppendMenuItem(MenuHandle menu, std::uint32_t id, const std::string& text) override {
    return ::AppendMenuA(Menu(menu), MF_STRING, id, text.c_str()) != FALSE;
  }

  bool SetDefaultMenuItem(MenuHandle menu, std::uint32_t id) override {
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE;
    info.fState = MFS_DEFAULT;
    return ::SetMenuItemInfoA(Menu(menu), id, FALSE, &info) != FALSE;
  }

  std::uint32_t TrackPopupMenu(MenuHandle menu, CursorPosition at, WindowHandle owner) override {
    return static_cast<std::uint32_t>(::TrackPopupMenu(Menu(menu), TPM_RETURNCMD | TPM_RIGHTBUTTON,
                                                       at.x, at.y, 0, ToHwnd(owner), nullptr));
  }

  void DestroyMenu(MenuHandle menu) override { UniqueMenu(Menu(menu)).reset(); }
  void EndMenu() override { (void)::EndMenu(); }

  CursorPosition GetCursorPos() override {
    POINT p{};
    ::GetCursorPos(&p);
    return CursorPosition{p.x, p.y};
  }

  bool SetForegroundWindow(WindowHandle window) override {
    return ::SetForegroundWindow(ToHwnd(window)) != FALSE;
  }

  std::int16_t GetKeyState(int virtualKey) override { return ::GetKeyState(virtualKey); }
};

}  // namespace

std::unique_ptr<IDialogs> MakeDialogs() { return std::make_unique<Dialogs>(); }

}  // namespace keldran::win32
