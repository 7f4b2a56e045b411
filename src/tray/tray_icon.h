#pragma once
// The host's icon in the notification area: tooltip, balloons, the popup menu, and the pending
// notice that waits for the exit notice when no balloon could show it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "config/configuration.h"
#include "log/notices.h"
#include "platform/platform.h"
#include "supervision/supervisor.h"

namespace keldran {

namespace tray_command {
constexpr std::uint32_t kStop = 101;
constexpr std::uint32_t kDebug = 104;
constexpr std::uint32_t kHide = 105;
constexpr std::uint32_t kShowStatus = 106;
}  // namespace tray_command

class TrayIcon : public INotices {
 public:
  static constexpr std::uint32_t kIconId = 12345;
  static constexpr std::size_t kMaxTip = 127;
  static constexpr std::size_t kMaxInfo = 255;
  static constexpr std::size_t kMaxInfoTitle = 63;

  // The icon reads the display name and the run flags as the start-up routine leaves them, and
  // the client's state from the supervisor.
  TrayIcon(Platform& platform, std::uint32_t callbackMessage, const Configuration& config,
           const RunFlags& flags, Supervisor& supervisor);
  ~TrayIcon() override;
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Events become notices: errors and warnings always, information only while debugging.
  void OnEvent(const char* text, std::uint16_t type);
  void PostNotice(const char* text, std::uint32_t kind) override { ShowBalloon(text, kind); }

  void AddOrModify(WindowHandle window, IconHandle icon, const char* tip);
  void Remove();
  void SetTip(const char* tip);
  // The tooltip a client asked for; the menu puts it back after showing itself.
  void SetClientTip(const WideString& text);
  void ResetClientTip();
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
  const Configuration& config_;
  const RunFlags& flags_;
  Supervisor& supervisor_;
  std::unique_ptr<ILock> lock_;  // the icon is changed from the run loop and event writers
  bool added_ GUARDED_BY(*lock_) = false;
  std::uint32_t callbackMessage_;
  NotifyIconData data_ GUARDED_BY(*lock_);
  std::optional<std::string> pendingText_ GUARDED_BY(*lock_);
  std::uint32_t pendingKind_ GUARDED_BY(*lock_) = notice_kind::kNone;
  WideString toolTipText_ GUARDED_BY(*lock_);
};

}  // namespace keldran
