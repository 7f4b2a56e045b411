#include "tray/service_win.h"

namespace keldran {
namespace {

constexpr std::uint32_t kDrawCentredSingleLine = 0x25;  // DT_CENTER | DT_VCENTER | DT_SINGLELINE
constexpr std::uintptr_t kIconSmall = 0;
constexpr std::uintptr_t kIconBig = 1;

}  // namespace

CServiceWin::CServiceWin(Platform& platform, const RegisteredMessages& messages,
                         const Configuration& config, const RunFlags& flags, Supervisor& supervisor)
    : platform_(platform),
      messages_(messages),
      config_(config),
      supervisor_(supervisor),
      tray_(platform, messages.trayNotify, config, flags, supervisor),
      fileSmallIcon_(platform.windowing),
      fileBigIcon_(platform.windowing) {}

CServiceWin::~CServiceWin() { tray_.Remove(); }

Win32Error CServiceWin::Create(const std::string& title) {
  WindowClassAndStyle windowClass;
  windowClass.classStyle = kClassStyle;
  windowClass.style = kStyle;
  windowClass.exStyle = kExStyle;
  windowClass.title = title;
  WindowHandle created = 0;
  Win32Error error = platform_.windowing.CreateWindow(
      windowClass,
      [this](WindowHandle w, std::uint32_t m, std::uintptr_t wp, std::intptr_t lp) {
        return HandleMessage(w, m, wp, lp);
      },
      &created);
  if (error == 0) window_ = created;
  return error;
}

void CServiceWin::DestroyServiceWindow() {
  tray_.Remove();
  if (window_) {
    const WindowHandle window = window_;
    window_ = 0;
    (void)platform_.windowing.DestroyWindow(window);
  }
  smallIcon_ = bigIcon_ = IconHandle{};
  fileSmallIcon_.reset();
  fileBigIcon_.reset();
}

std::intptr_t CServiceWin::HandleMessage(WindowHandle window, std::uint32_t message,
                                         std::uintptr_t wParam, std::intptr_t lParam) {
  switch (message) {
    case window_message::kCreate:
      OnCreate(window);
      return 0;
    case window_message::kPaint:
      platform_.windowing.PaintText(window, "Double Click to stop", kDrawCentredSingleLine);
      return 0;
    case window_message::kLButtonDblClk:
      ConfirmStop();
      return 0;
    case window_message::kClose:
      // The window is the host's: closing it (a session that ends, a task manager) is a stop,
      // not a destruction that would end the run without telling the client.
      StopFromWindow();
      return 0;
    case window_message::kDestroy:
      // Destroyed by anyone but the host's own teardown: the host stops.
      if (window_ != 0) {
        window_ = 0;
        tray_.Remove();
        StopFromWindow();
      }
      return 0;
    default:
      break;
  }
  if (message == messages_.taskbarCreated && message != 0) {
    OnTaskbarCreated();
    return 0;
  }
  if (message == messages_.trayNotify && message != 0) {
    OnTrayNotify(lParam);
    return 0;
  }
  if (message == messages_.stop && message != 0) {
    StopFromWindow();
    return 0;
  }
  return platform_.windowing.DefWindowProc(window, message, wParam, lParam);
}

void CServiceWin::OnCreate(WindowHandle window) {
  window_ = window;
  IWindowing& windowing = platform_.windowing;
  const std::string& iconFile = config_.IconFile;
  if (!iconFile.empty()) {
    fileSmallIcon_.reset(windowing.LoadIconFile(iconFile, 16));
    fileBigIcon_.reset(windowing.LoadIconFile(iconFile, 32));
  }
  smallIcon_ = fileSmallIcon_ ? fileSmallIcon_.get() : windowing.LoadIconResource(kIconResource);
  bigIcon_ = fileBigIcon_ ? fileBigIcon_.get() : windowing.LoadIconResource(kIconResource);
  (void)platform_.windowing.SendMessage(window, window_message::kSetIcon, kIconSmall,
                                        static_cast<std::intptr_t>(smallIcon_.value));
  (void)platform_.windowing.SendMessage(window, window_message::kSetIcon, kIconBig,
                                        static_cast<std::intptr_t>(bigIcon_.value));
  tray_.ResetClientTip();
  tray_.AddOrModify(window, smallIcon_, config_.DisplayName.c_str());
}

void CServiceWin::OnTaskbarCreated() {
  tray_.Remove();
  // A tooltip that the client had set is not restored.
  tray_.ResetClientTip();
  tray_.AddOrModify(window_, smallIcon_, config_.DisplayName.c_str());
}

void CServiceWin::OnTrayNotify(std::intptr_t mouseMessage) {
  // A click queued before the stop began would bring the menu back over a host that stops; one
  // that arrives while the menu shows (Wine's tray sends a button and a context-menu message for
  // one click) would open a second menu inside the first.
  if (supervisor_.Stopping() || menuOpen_) return;
  switch (static_cast<std::uint32_t>(mouseMessage)) {
    case window_message::kLButtonDblClk:
    case window_message::kRButtonDblClk:
      ShowClientStatus();
      break;
    case window_message::kLButtonDown:
    case window_message::kRButtonDown:
    case window_message::kContextMenu: {
      // Until the chosen command (a confirmation box among them) is done with.
      menuOpen_ = true;
      const std::uint32_t command = tray_.ShowMenu();
      if (command == tray_command::kStop) ConfirmStop();
      if (command == tray_command::kDebug) DebugClient();
      if (command == tray_command::kHide) HideClient();
      if (command == tray_command::kShowStatus) ShowClientStatus();
      menuOpen_ = false;
      break;
    }
    default:
      break;
  }
}

void CServiceWin::ConfirmStop() {
  const std::string text = "Please confirm you want to stop " + config_.DisplayName + "?";
  constexpr std::uint32_t kStyle =
      message_box::kOkCancel | message_box::kIconQuestion | message_box::kSystemModal;
  if (platform_.dialogs.MessageBox(window_, text, config_.DisplayName, kStyle) !=
      message_box::kIdOk) {
    return;
  }
  StopFromWindow();
}

void CServiceWin::StopFromWindow() {
  if (stop_) stop_();
}

void CServiceWin::ShowClientStatus() { supervisor_.PostToClient(client_event::kShowStatus); }

void CServiceWin::HideClient() { supervisor_.PostToClient(client_event::kHide); }

void CServiceWin::DebugClient() {
  if (supervisor_.CanDebug()) supervisor_.PostToClient(client_event::kDebug);
}

}  // namespace keldran
