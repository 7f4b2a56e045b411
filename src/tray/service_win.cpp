#include "tray/service_win.h"

#include "app/service_module.h"

namespace keldran {
namespace {

constexpr std::uint32_t kDrawCentredSingleLine = 0x25;  // DT_CENTER | DT_VCENTER | DT_SINGLELINE
constexpr std::uintptr_t kIconSmall = 0;
constexpr std::uintptr_t kIconBig = 1;

}  // namespace

CServiceWin::CServiceWin(Platform& platform, const RegisteredMessages& messages)
    : platform_(platform), messages_(messages), tray_(platform, messages.trayNotify) {}

CServiceWin::~CServiceWin() { tray_.Remove(); }

void CServiceWin::Attach(CServiceModule& module) {
  module_ = &module;
  tray_.Attach(module);
}

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
  StateLock state(module_->stateLock());
  tray_.Remove();
  if (window_) {
    const WindowHandle window = window_;
    window_ = 0;
    (void)platform_.windowing.DestroyWindow(window);
  }
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
    case window_message::kDestroy:
      // Ends the run loop: its GetMessage returns 0.
      platform_.windowing.PostQuitMessage(0);
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
    DestroyServiceWindow();
    module_->Handler(service_control::kStop);
    return 0;
  }
  return platform_.windowing.DefWindowProc(window, message, wParam, lParam);
}

void CServiceWin::OnCreate(WindowHandle window) {
  window_ = window;
  const std::string& iconFile = module_->IconFile;
  smallIcon_ = iconFile.empty() ? IconHandle{} : platform_.windowing.LoadIconFile(iconFile, 16);
  bigIcon_ = iconFile.empty() ? IconHandle{} : platform_.windowing.LoadIconFile(iconFile, 32);
  if (!smallIcon_) smallIcon_ = platform_.windowing.LoadIconResource(kIconResource);
  if (!bigIcon_) bigIcon_ = platform_.windowing.LoadIconResource(kIconResource);
  (void)platform_.windowing.SendMessage(window, window_message::kSetIcon, kIconSmall,
                                        static_cast<std::intptr_t>(smallIcon_.value));
  (void)platform_.windowing.SendMessage(window, window_message::kSetIcon, kIconBig,
                                        static_cast<std::intptr_t>(bigIcon_.value));
  module_->ToolTipText = platform_.texts.AnsiToWide(module_->DisplayName);
  tray_.AddOrModify(window, smallIcon_, module_->DisplayName.c_str());
}

void CServiceWin::OnTaskbarCreated() {
  tray_.Remove();
  // A tooltip that the client had set is not restored.
  module_->ToolTipText = platform_.texts.AnsiToWide(module_->DisplayName);
  tray_.AddOrModify(window_, smallIcon_, module_->DisplayName.c_str());
}

void CServiceWin::OnTrayNotify(std::intptr_t mouseMessage) {
  switch (static_cast<std::uint32_t>(mouseMessage)) {
    case window_message::kLButtonDblClk:
    case window_message::kRButtonDblClk:
      ShowClientStatus();
      break;
    case window_message::kLButtonDown:
    case window_message::kRButtonDown:
    case window_message::kContextMenu:
      switch (tray_.ShowMenu()) {
        case tray_command::kStop:
          ConfirmStop();
          break;
        case tray_command::kDebug:
          DebugClient();
          break;
        case tray_command::kHide:
          HideClient();
          break;
        case tray_command::kShowStatus:
          ShowClientStatus();
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
}

void CServiceWin::ConfirmStop() {
  const std::string text = "Please confirm you want to stop " + module_->DisplayName + "?";
  constexpr std::uint32_t kStyle =
      message_box::kOkCancel | message_box::kIconQuestion | message_box::kSystemModal;
  if (platform_.dialogs.MessageBox(window_, text, module_->DisplayName, kStyle) !=
      message_box::kIdOk) {
    return;
  }
  DestroyServiceWindow();
  module_->Handler(service_control::kStop);
}

void CServiceWin::PostToClient(std::uintptr_t code) {
  if (module_->ClientWindow == 0) return;
  (void)platform_.windowing.PostMessage(module_->ClientWindow, module_->ClientEventMessage, code,
                                        0);
}

void CServiceWin::ShowClientStatus() { PostToClient(client_event::kShowStatus); }

void CServiceWin::HideClient() { PostToClient(client_event::kHide); }

void CServiceWin::DebugClient() {
  if (module_->CanDebug) PostToClient(client_event::kDebug);
}

}  // namespace keldran
