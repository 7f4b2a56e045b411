#pragma once
// The host's icon in the notification area: tooltip, balloons, the popup menu, and the pending
// notice that waits for the exit notice when no balloon could show it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace keldran {

class CServiceModule;

namespace notice_kind {
constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kInformation = 1;
constexpr std::uint32_t kWarning = 2;
constexpr std::uint32_t kError = 3;
}  // namespace notice_kind

namespace tray_command {
constexpr std::uint32_t kStop = 101;
constexpr std::uint32_t kDebug = 104;
constexpr std::uint32_t kHide = 105;
constexpr std::uint32_t kShowStatus = 106;
}  // namespace tray_command

class TrayIcon {
 public:
  static constexpr std::uint32_t kIconId = 12345;
  static constexpr std::size_t kMaxTip = 127;
  static constexpr std::size_t kMaxInfo = 255;
  static constexpr std::size_t kMaxInfoTitle = 63;

  TrayIcon(Platform& platform, std::uint32_t callbackMessage);
  virtual ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // The module whose state (client launched, display name, settings) the icon reads.
  void Attach(CServiceModule& module) { module_ = &module; }

  void AddOrModify(WindowHandle window, IconHandle icon, const char* tip);
  void Remove();
  void SetTip(const char* tip);
  // A balloon once the icon is added and a client has started; otherwise the pending notice.
  void ShowBalloon(const char* text, std::uint32_t kind);
  // Shows the popup menu at the cursor; the command chosen, 0 for none.
  std::uint32_t ShowMenu();
  // The exit notice: the pending notice as a message box, when no client ever started.
  void ShowPendingNotice();

  bool added() const;
  std::optional<std::string> pendingText() const;
  std::uint32_t pendingKind() const;

 private:
  Platform& platform_;
  CServiceModule* module_ = nullptr;
  std::unique_ptr<ILock> lock_;  // the icon is changed from the run loop and event writers
  bool added_ = false;
  std::uint32_t callbackMessage_;
  NotifyIconData data_;
  std::optional<std::string> pendingText_;
  std::uint32_t pendingKind_ = notice_kind::kNone;
};

}  // namespace keldran
