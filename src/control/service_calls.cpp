#include "control/service_calls.h"

#include "app/service_module.h"
#include "log/error_text.h"
#include "supervision/process.h"
#include "tray/service_win.h"

namespace keldran {
namespace {

// Event types of IService::Log: 0 information, 1 warning, 2 error.
constexpr std::uint16_t kLogTypes[] = {event_type::kInformation, event_type::kWarning,
                                       event_type::kError};
constexpr std::uint32_t kClientLogMessage = 2000;

}  // namespace

HResult ServiceCalls::Stop() {
  module_.logInfo(category::kShutdown, 111);
  module_.RequestQuit();
  return kSOk;
}

void ServiceCalls::ResumeIfPaused(bool wasPaused) {
  if (!wasPaused) return;
  module_.logInfo(category::kRun, 110);
  module_.SetServiceState(service_state::kRunning);
}

HResult ServiceCalls::Running() {
  const bool wasPaused = module_.Paused;
  module_.SetRunningTS(true, nullptr, 0);
  ResumeIfPaused(wasPaused);
  return kSOk;
}

HResult ServiceCalls::Pause() {
  module_.logInfo(category::kRun, 109);
  module_.SetServiceState(service_state::kPaused);
  module_.SetRunningTS(false, nullptr, 0);
  return kSOk;
}

HResult ServiceCalls::Connect(std::uint32_t clientWindow, std::int32_t* serviceThreadId) {
  Platform& p = module_.platform();
  // The service shows as running only once its client has connected, and again after each
  // restart.
  if (!module_.ConnectedOnce) {
    module_.ConnectedOnce = true;
    module_.SetServiceState(service_state::kRunning);
  }
  const std::string handle = codeText(static_cast<std::int32_t>(clientWindow));
  if (module_.Debug == 0) {
    module_.logDebug("Client connected hwndClient=" + handle);
  } else {
    module_.logInfo(category::kRun, 115, handle.c_str());
  }
  module_.ClientEventMessage = p.windowing.RegisterWindowMessage(kClientEventMessageName);
  module_.ClientWindow = clientWindow;
  if (serviceThreadId) *serviceThreadId = static_cast<std::int32_t>(p.windowing.CurrentThreadId());
  return kSOk;
}

HResult ServiceCalls::Log(std::int32_t type, const WideString* message, std::int32_t category,
                          std::int32_t messageNumber) {
  if (type < 0 || type > 2) return kEInvalidArg;
  const std::uint16_t eventCategory =
      category == 0 ? category::kRun : static_cast<std::uint16_t>(category);
  const std::uint32_t id =
      messageNumber == 0 ? kClientLogMessage : static_cast<std::uint32_t>(messageNumber);
  if (!message) {
    module_.logEvent(kLogTypes[type], eventCategory, id, nullptr, 0);
    return kSOk;
  }
  const std::string text = module_.platform().texts.WideToAnsi(*message);
  const char* strings[] = {text.c_str()};
  module_.logEvent(kLogTypes[type], eventCategory, id, strings, 1);
  return kSOk;
}

HResult ServiceCalls::StartWorker(const WideString*, ObjectRef* worker) {
  // A worker that cannot be created leaves the client a null pointer; the call succeeds.
  (void)module_.platform().com.CreateLocalServerObject(worker_ids::kClsid, worker_ids::kIid,
                                                       worker);
  return kSOk;
}

HResult ServiceCalls::StopWorker(std::int32_t) { return kSOk; }

HResult ServiceCalls::RequestStop() {
  // The service window stops the host as the stop control does; this call returns at once.
  (void)module_.platform().windowing.PostMessage(module_.window().handle(), module_.messages().stop,
                                                 0, 0);
  return kSOk;
}

HResult ServiceCalls::NotifyVisible(std::int32_t visible) {
  module_.Show = visible != 0 ? 1 : 0;
  return kSOk;
}

HResult ServiceCalls::NotifyCanDebug(std::int32_t canDebug) {
  module_.CanDebug = canDebug != 0;
  return kSOk;
}

HResult ServiceCalls::SetToolTip(const WideString* text) {
  module_.ToolTipText = text ? *text : WideString();
  module_.window().tray().SetTip(module_.platform().texts.WideToAnsi(module_.ToolTipText).c_str());
  return kSOk;
}

HResult ServiceCalls::ShowBalloon(const WideString* message, std::int32_t type) {
  TrayIcon& tray = module_.window().tray();
  if (!message) {
    tray.ShowBalloon(nullptr, 0);  // removes a balloon on display
    return kSOk;
  }
  tray.ShowBalloon(module_.platform().texts.WideToAnsi(*message).c_str(),
                   static_cast<std::uint32_t>(type));
  return kSOk;
}

HResult ServiceCalls::Restart() {
  module_.logInfo(category::kRun, 119);
  // The caller is the client being killed: the call may not return to it.
  module_.client().Terminate(CServiceModule::kErrorTimeout);
  module_.LaunchClient(true);
  return kSOk;
}

HResult ServiceCalls::ReadIniString(const WideString* section, const WideString* key,
                                    const WideString* defaultValue, WideString* result) {
  ISystemTexts& texts = module_.platform().texts;
  auto ansi = [&texts](const WideString* text) {
    return text ? texts.WideToAnsi(*text) : std::string();
  };
  const std::string keyText = ansi(key);
  const std::string value = module_.ReadIniValue(
      ansi(section), keyText.empty() ? std::nullopt : std::optional<std::string>(keyText),
      ansi(defaultValue), kIniStringBuffer);
  if (result) *result = texts.AnsiToWide(value);
  return kSOk;
}

HResult ServiceCalls::DeleteFileOnTimeout(const WideString* file) {
  StateLock lock(module_.stateLock());
  module_.TimeoutFile = file && !file->empty() ? *file : WideString();
  return kSOk;
}

HResult ServiceCalls::Progress(const WideString* message, std::int32_t timeout) {
  const bool wasPaused = module_.Paused;
  // A negative time-out means nothing sensible; it counts as 0, the configured Timeout.
  module_.SetRunningTS(true, message, timeout > 0 ? static_cast<std::uint32_t>(timeout) : 0);
  ResumeIfPaused(wasPaused);
  return kSOk;
}

}  // namespace keldran
