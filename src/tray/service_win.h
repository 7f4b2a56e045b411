#pragma once
// CServiceWin: the host's one top-level window, never shown. It carries the tray icon, receives
// the tray icon's mouse messages and the stop message, and re-adds the icon when the taskbar is
// created again.

#include <cstdint>

#include "app/registered_messages.h"
#include "platform/platform.h"
#include "tray/tray_icon.h"

namespace keldran {

class CServiceModule;

class CServiceWin {
 public:
  static constexpr std::uint32_t kClassStyle = 0x0B;     // CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS
  static constexpr std::uint32_t kStyle = 0x06CF0000;    // overlapped, clip children and siblings
  static constexpr std::uint32_t kExStyle = 0x00040100;  // app window, window edge
  static constexpr int kIconResource = 201;

  CServiceWin(Platform& platform, const RegisteredMessages& messages);
  virtual ~CServiceWin();
  CServiceWin(const CServiceWin&) = delete;
  CServiceWin& operator=(const CServiceWin&) = delete;

  void Attach(CServiceModule& module);

  // Creates the window with the display name as title; WM_CREATE adds the tray icon.
  [[nodiscard]] Win32Error Create(const std::string& title);
  // Under the state lock: removes the tray icon, then destroys the window if it exists.
  void DestroyServiceWindow();
  // The message map.
  std::intptr_t HandleMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam);

  void ConfirmStop();
  void ShowClientStatus();
  void HideClient();
  void DebugClient();

  WindowHandle handle() const { return window_; }
  TrayIcon& tray() { return tray_; }

 private:
  void OnCreate(WindowHandle window);
  void OnTaskbarCreated();
  void OnTrayNotify(std::intptr_t mouseMessage);
  void PostToClient(std::uintptr_t code);

  Platform& platform_;
  RegisteredMessages messages_;
  CServiceModule* module_ = nullptr;
  WindowHandle window_ = 0;
  TrayIcon tray_;
  IconHandle smallIcon_;
  IconHandle bigIcon_;
};

}  // namespace keldran
