#pragma once
// CServiceWin: the host's one top-level window, never shown. It carries the tray icon, receives
// the tray icon's mouse messages and the stop message, and re-adds the icon when the taskbar is
// created again.

#include <cstdint>
#include <functional>

#include "platform/platform.h"
#include "tray/registered_messages.h"
#include "tray/tray_icon.h"

namespace keldran {

class CServiceWin {
 public:
  static constexpr std::uint32_t kClassStyle = 0x0B;     // CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS
  static constexpr std::uint32_t kStyle = 0x06CF0000;    // overlapped, clip children and siblings
  static constexpr std::uint32_t kExStyle = 0x00040100;  // app window, window edge
  static constexpr int kIconResource = 201;

  CServiceWin(Platform& platform, const RegisteredMessages& messages, const Configuration& config,
              const RunFlags& flags, Supervisor& supervisor);
  virtual ~CServiceWin();
  CServiceWin(const CServiceWin&) = delete;
  CServiceWin& operator=(const CServiceWin&) = delete;

  // The stop of the service, which the stop message, the tray's confirmed Stop and a close of the
  // window ask for; it returns at once and the run loop carries it out.
  void SetStopHandler(std::function<void()> stop) { stop_ = std::move(stop); }

  // Creates the window with the display name as title; WM_CREATE adds the tray icon.
  [[nodiscard]] Win32Error Create(const std::string& title);
  // Removes the tray icon, then destroys the window if it exists.
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
  void StopFromWindow();

  Platform& platform_;
  RegisteredMessages messages_;
  const Configuration& config_;
  Supervisor& supervisor_;
  std::function<void()> stop_;
  WindowHandle window_ = 0;
  bool menuOpen_ = false;  // the tray's menu shows (run-loop thread only)
  TrayIcon tray_;
  // Icons loaded from the icon file are the window's own and go with it; the program's own icon
  // (LoadIcon of resource 201) is shared and never destroyed.
  ScopedIcon fileSmallIcon_;
  ScopedIcon fileBigIcon_;
  IconHandle smallIcon_;  // what the window and the tray icon show
  IconHandle bigIcon_;
};

}  // namespace keldran
