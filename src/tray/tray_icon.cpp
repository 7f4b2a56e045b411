#include "tray/tray_icon.h"

namespace keldran {
namespace {

std::string Cut(const char* text, std::size_t max) {
  std::string s(text ? text : "");
  if (s.size() > max) s.resize(max);
  return s;
}

constexpr int kVirtualKeyShift = 16;
constexpr int kVirtualKeyControl = 17;

}  // namespace

TrayIcon::TrayIcon(Platform& platform, std::uint32_t callbackMessage, const Configuration& config,
                   const RunFlags& flags, Supervisor& supervisor)
    : platform_(platform),
      config_(config),
      flags_(flags),
      supervisor_(supervisor),
      lock_(platform.sync.CreateCriticalSection(0)),
      callbackMessage_(callbackMessage) {}

TrayIcon::~TrayIcon() { Remove(); }

void TrayIcon::OnEvent(const char* text, std::uint16_t type) {
  if (!text) return;
  std::uint32_t kind = notice_kind::kNone;
  if (type == event_type::kError) {
    kind = notice_kind::kError;
  } else if (type == event_type::kWarning) {
    kind = notice_kind::kWarning;
  } else if (type == event_type::kInformation && supervisor_.Debugging()) {
    kind = notice_kind::kInformation;
  }
  if (kind == notice_kind::kNone) return;
  PostNotice(text, kind);
  // Started from a console, the program also says it there: a terminal without a display never
  // sees a box or a balloon.
  (void)platform_.texts.WriteStandardStream(ISystemTexts::Stream::kError,
                                            std::string(text) + "\r\n");
}

void TrayIcon::AddOrModify(WindowHandle window, IconHandle icon, const char* tip) {
  // The supervisor is asked before the icon's lock is taken: the supervisor's own events come
  // here, so the two locks are never held in the other order.
  const bool launched = supervisor_.ClientLaunched();
  std::optional<std::string> pending;
  std::uint32_t kind = 0;
  {
    LockGuard guard(*lock_);
    std::uint32_t operation;
    if (!added_) {
      data_ = NotifyIconData{};
      data_.window = window;
      data_.id = kIconId;
      data_.flags = notify_icon::kFlagMessage;
      data_.callbackMessage = callbackMessage_;
      data_.timeoutOrVersion = notify_icon::kVersion;
      operation = notify_icon::kAdd;
    } else {
      data_.flags = 0;
      operation = notify_icon::kModify;
    }
    if (icon) {
      data_.flags |= notify_icon::kFlagIcon;
      data_.icon = icon;
    }
    if (tip) {
      data_.flags |= notify_icon::kFlagTip;
      data_.tip = Cut(tip, kMaxTip);
    }
    if (platform_.dialogs.NotifyIcon(operation, data_)) added_ = true;
    if (!added_) return;
    data_.timeoutOrVersion = notify_icon::kVersion;
    (void)platform_.dialogs.NotifyIcon(notify_icon::kSetVersion, data_);
    if (pendingText_ && launched) {
      pending = pendingText_;
      kind = pendingKind_;
    }
  }
  if (pending) ShowBalloon(pending->c_str(), kind);
}

void TrayIcon::Remove() {
  LockGuard guard(*lock_);
  if (!added_) return;
  (void)platform_.dialogs.NotifyIcon(notify_icon::kDelete, data_);
  added_ = false;
}

void TrayIcon::SetTip(const char* tip) {
  LockGuard guard(*lock_);
  if (!added_) return;
  data_.flags = notify_icon::kFlagTip;
  data_.tip = Cut(tip, kMaxTip);
  (void)platform_.dialogs.NotifyIcon(notify_icon::kModify, data_);
}

void TrayIcon::SetClientTip(const WideString& text) {
  {
    LockGuard guard(*lock_);
    toolTipText_ = text;
  }
  SetTip(platform_.texts.WideToAnsi(text).c_str());
}

void TrayIcon::ResetClientTip() {
  LockGuard guard(*lock_);
  toolTipText_ = platform_.texts.AnsiToWide(config_.DisplayName);
}

void TrayIcon::ShowBalloon(const char* text, std::uint32_t kind) {
  const bool launched = supervisor_.ClientLaunched();
  LockGuard guard(*lock_);
  if (added_ && launched) {
    data_.flags = notify_icon::kFlagInfo;
    data_.infoFlags = 0;
    data_.timeoutOrVersion = 0;
    data_.infoTitle = Cut(config_.DisplayName.c_str(), kMaxInfoTitle);
    data_.info.clear();
    if (text) {
      data_.timeoutOrVersion = 30000;
      data_.infoFlags = kind;
      data_.info = Cut(text, kMaxInfo);
    }
    pendingText_.reset();
    pendingKind_ = notice_kind::kNone;
    (void)platform_.dialogs.NotifyIcon(notify_icon::kModify, data_);
    return;
  }
  // No balloon can show it yet: it waits, replacing any earlier notice.
  pendingText_ = text ? std::optional<std::string>(text) : std::nullopt;
  pendingKind_ = kind;
}

std::uint32_t TrayIcon::ShowMenu() {
  ScopedMenu menu(platform_.dialogs, platform_.dialogs.CreatePopupMenu());
  if (!menu) return 0;
  SetTip(nullptr);
  (void)platform_.dialogs.AppendMenuItem(menu.get(), tray_command::kShowStatus, "Show Status");
  (void)platform_.dialogs.AppendMenuItem(menu.get(), tray_command::kStop,
                                         "Stop " + config_.DisplayName);
  const bool chordHeld = platform_.dialogs.GetKeyState(kVirtualKeyShift) < 0 &&
                         platform_.dialogs.GetKeyState(kVirtualKeyControl) < 0;
  if (supervisor_.CanDebug() && (supervisor_.Debugging() || chordHeld)) {
    if (supervisor_.Visible()) {
      (void)platform_.dialogs.AppendMenuItem(menu.get(), tray_command::kHide, "Hide");
    } else {
      (void)platform_.dialogs.AppendMenuItem(menu.get(), tray_command::kDebug, "Debug");
      // Offering the debug command already switches the watchdog's time-outs off.
      supervisor_.EnterDebugMode();
    }
  }
  (void)platform_.dialogs.SetDefaultMenuItem(menu.get(), tray_command::kShowStatus);
  const CursorPosition at = platform_.dialogs.GetCursorPos();
  WindowHandle owner;
  WideString tip;
  {
    LockGuard guard(*lock_);
    owner = data_.window;
    tip = toolTipText_;
  }
  (void)platform_.dialogs.SetForegroundWindow(owner);
  const std::uint32_t command = platform_.dialogs.TrackPopupMenu(menu.get(), at, owner);
  (void)platform_.windowing.PostMessage(owner, window_message::kNull, 0, 0);
  menu.reset();
  SetTip(platform_.texts.WideToAnsi(tip).c_str());
  return command;
}

void TrayIcon::ShowPendingNotice() {
  if (supervisor_.ClientLaunched()) return;
  std::string text;
  std::uint32_t kind;
  {
    LockGuard guard(*lock_);
    if (!pendingText_) return;
    text = *pendingText_;
    kind = pendingKind_;
    pendingText_.reset();
    pendingKind_ = notice_kind::kNone;
  }
  std::uint32_t style;
  switch (kind) {
    case notice_kind::kInformation:
      style = message_box::kIconInformation;
      break;
    case notice_kind::kWarning:
      style = message_box::kIconWarning;
      break;
    case notice_kind::kError:
      style = message_box::kIconError;
      break;
    default:
      return;
  }
  style |= message_box::kSetForeground;
  if (flags_.ServiceSwitch) {
    style |= message_box::kServiceNotification;
  } else if (flags_.Quiet) {
    return;
  }
  (void)platform_.dialogs.MessageBox(0, text, config_.DisplayName, style);
}

bool TrayIcon::added() const {
  LockGuard guard(*lock_);
  return added_;
}

std::optional<std::string> TrayIcon::pendingText() const {
  LockGuard guard(*lock_);
  return pendingText_;
}

std::uint32_t TrayIcon::pendingKind() const {
  LockGuard guard(*lock_);
  return pendingKind_;
}

}  // namespace keldran
