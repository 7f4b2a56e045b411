#pragma once
// The notification area (tray icon), message boxes and popup menus.

#include <cstdint>
#include <string>

#include "platform/scoped.h"
#include "platform/types.h"
#include "platform/windowing.h"

namespace keldran {

struct MenuHandleTag;
using MenuHandle = Handle<MenuHandleTag>;

namespace notify_icon {
constexpr std::uint32_t kAdd = 0;
constexpr std::uint32_t kModify = 1;
constexpr std::uint32_t kDelete = 2;
constexpr std::uint32_t kSetVersion = 4;
constexpr std::uint32_t kFlagMessage = 0x1;
constexpr std::uint32_t kFlagIcon = 0x2;
constexpr std::uint32_t kFlagTip = 0x4;
constexpr std::uint32_t kFlagInfo = 0x10;
constexpr std::uint32_t kVersion = 3;
}  // namespace notify_icon

// NOTIFYICONDATAA as the tray icon fills it; texts are held without their fixed buffers (the
// caller cuts them to 127, 255 and 63 characters).
struct NotifyIconData {
  WindowHandle window = 0;
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::uint32_t callbackMessage = 0;
  IconHandle icon;
  std::string tip;
  std::string info;
  std::uint32_t timeoutOrVersion = 0;
  std::string infoTitle;
  std::uint32_t infoFlags = 0;
};

namespace message_box {
constexpr std::uint32_t kOk = 0x0;
constexpr std::uint32_t kOkCancel = 0x1;
constexpr std::uint32_t kIconError = 0x10;
constexpr std::uint32_t kIconQuestion = 0x20;
constexpr std::uint32_t kIconWarning = 0x30;
constexpr std::uint32_t kIconInformation = 0x40;
constexpr std::uint32_t kSystemModal = 0x1000;
constexpr std::uint32_t kSetForeground = 0x10000;
constexpr std::uint32_t kServiceNotification = 0x200000;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
}  // namespace message_box

struct CursorPosition {
  int x = 0;
  int y = 0;
};

class IDialogs {
 public:
  virtual ~IDialogs() = default;

  virtual bool NotifyIcon(std::uint32_t operation, const NotifyIconData& data) = 0;
  virtual int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                         std::uint32_t style) = 0;

  virtual MenuHandle CreatePopupMenu() = 0;
  virtual bool AppendMenuItem(MenuHandle menu, std::uint32_t id, const std::string& text) = 0;
  virtual bool SetDefaultMenuItem(MenuHandle menu, std::uint32_t id) = 0;
  // TrackPopupMenu with TPM_RETURNCMD | TPM_RIGHTBUTTON: the chosen command, 0 for none.
  virtual std::uint32_t TrackPopupMenu(MenuHandle menu, CursorPosition at, WindowHandle owner) = 0;
  virtual void DestroyMenu(MenuHandle menu) = 0;
  // EndMenu: closes the menu that the calling thread shows, if any.
  virtual void EndMenu() = 0;
  virtual CursorPosition GetCursorPos() = 0;
  virtual bool SetForegroundWindow(WindowHandle window) = 0;
  // GetKeyState: negative while the key is down.
  virtual std::int16_t GetKeyState(int virtualKey) = 0;
};

using ScopedMenu = Scoped<IDialogs, MenuHandle, &IDialogs::DestroyMenu>;

}  // namespace keldran
