#include "control/service_calls.h"

#include <algorithm>
#include <cctype>

#include "control/status_lines.h"
#include "log/error_text.h"

namespace keldran {
namespace {

// Event types of IService::Log: 0 information, 1 warning, 2 error.
constexpr std::uint16_t kLogTypes[] = {event_type::kInformation, event_type::kWarning,
                                       event_type::kError};
constexpr std::uint32_t kClientLogMessage = 2000;

// Whether a section or key name names `name` as the profile functions read it: up to a NUL,
// without the blanks around it, in any case.
bool IsProfileName(const std::string& text, const char* name) {
  constexpr const char* kBlanks = " \t\r\n\v\f\x1a";
  const std::string cut = text.substr(0, text.find('\0'));
  const std::size_t first = cut.find_first_not_of(kBlanks);
  const std::string trimmed = first == std::string::npos
                                  ? ""
                                  : cut.substr(first, cut.find_last_not_of(kBlanks) - first + 1);
  const std::string wanted = name;
  return std::equal(trimmed.begin(), trimmed.end(), wanted.begin(), wanted.end(),
                    [](char a, char b) {
                      return std::tolower(static_cast<unsigned char>(a)) ==
                             std::tolower(static_cast<unsigned char>(b));
                    });
}

// The service account's password never leaves the host: the Logon entry of the Service section
// reads as its account alone, whether the client asks for the key or for the section, whose
// first entry it may be.
std::string WithoutLogonPassword(const std::string& section, const std::string& key,
                                 std::string value) {
  if (!IsProfileName(section, names::kIniSection)) return value;
  std::size_t from = 0;
  if (key.empty()) {
    const std::size_t equals = value.find('=');
    if (equals == std::string::npos || !IsProfileName(value.substr(0, equals), names::kLogonKey))
      return value;
    from = equals + 1;
  } else if (!IsProfileName(key, names::kLogonKey)) {
    return value;
  }
  const std::size_t semicolon = value.find(';', from);
  if (semicolon != std::string::npos) value.resize(semicolon);
  return value;
}

}  // namespace

HResult ServiceCalls::Stop() {
  // While the host waits for its client to end, a stop asked for again is answered and changes
  // nothing: the wait goes on and ends the run itself.
  if (supervisor_.Stopping()) return kSOk;
  events_.logInfo(category::kShutdown, event::kClientShutdown);
  run_.RequestQuit();
  return kSOk;
}

void ServiceCalls::ResumeIfPaused(bool wasPaused) {
  if (!wasPaused) return;
  events_.logInfo(category::kRun, event::kClientResume);
  run_.SetServiceState(service_state::kRunning);
}

HResult ServiceCalls::Running() {
  ResumeIfPaused(supervisor_.SetRunningTS(true, nullptr, 0));
  return kSOk;
}

HResult ServiceCalls::Pause() {
  events_.logInfo(category::kRun, event::kClientPause);
  run_.SetServiceState(service_state::kPaused);
  (void)supervisor_.SetRunningTS(false, nullptr, 0);
  return kSOk;
}

HResult ServiceCalls::Connect(std::uint32_t clientWindow, std::int32_t* serviceThreadId) {
  // The service shows as running only once its client has connected, and again after each
  // restart.
  if (supervisor_.Connect(clientWindow)) run_.SetServiceState(service_state::kRunning);
  if (serviceThreadId)
    *serviceThreadId = static_cast<std::int32_t>(platform_.windowing.CurrentThreadId());
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
    events_.logEvent(kLogTypes[type], eventCategory, id, nullptr, 0);
    return kSOk;
  }
  const std::string text = platform_.texts.WideToAnsi(*message);
  const char* strings[] = {text.c_str()};
  events_.logEvent(kLogTypes[type], eventCategory, id, strings, 1);
  return kSOk;
}

HResult ServiceCalls::StartWorker(const WideString*, ObjectRef* worker) {
  // A worker that cannot be created leaves the client a null pointer; the call succeeds.
  (void)platform_.com.CreateLocalServerObject(worker_ids::kClsid, worker_ids::kIid, worker);
  return kSOk;
}

HResult ServiceCalls::StopWorker(std::int32_t) { return kSOk; }

HResult ServiceCalls::RequestStop() {
  // The run loop stops the host as the stop control does; this call returns at once.
  run_.RequestStop();
  return kSOk;
}

HResult ServiceCalls::NotifyVisible(std::int32_t visible) {
  supervisor_.SetVisible(visible != 0);
  return kSOk;
}

HResult ServiceCalls::NotifyCanDebug(std::int32_t canDebug) {
  supervisor_.SetCanDebug(canDebug != 0);
  return kSOk;
}

HResult ServiceCalls::SetToolTip(const WideString* text) {
  window_.tray().SetClientTip(text ? *text : WideString());
  return kSOk;
}

HResult ServiceCalls::ShowBalloon(const WideString* message, std::int32_t type) {
  TrayIcon& tray = window_.tray();
  if (!message) {
    tray.ShowBalloon(nullptr, 0);  // removes a balloon on display
    return kSOk;
  }
  // The balloon kinds are 0 (no icon), 1 information, 2 warning and 3 error. Any other Type
  // would reach the shell as flags of another meaning (4 asks for an icon of the caller's own,
  // which the host has none of; higher bits are sound and size flags), so the text is shown as
  // information and the log says why.
  std::uint32_t kind = static_cast<std::uint32_t>(type);
  if (type < 0 || type > static_cast<std::int32_t>(notice_kind::kError)) {
    events_.logDebug("ShowBalloon: Type " + std::to_string(type) +
                     " is not a balloon kind; shown as information");
    kind = notice_kind::kInformation;
  }
  tray.ShowBalloon(platform_.texts.WideToAnsi(*message).c_str(), kind);
  return kSOk;
}

HResult ServiceCalls::Restart() {
  if (supervisor_.Stopping()) return kSOk;
  events_.logInfo(category::kRun, event::kClientRestart);
  if (!supervisor_.Restart()) run_.FailRun(supervisor_.client().LastResult());
  return kSOk;
}

HResult ServiceCalls::ReadIniString(const WideString* section, const WideString* key,
                                    const WideString* defaultValue, WideString* result) {
  ISystemTexts& texts = platform_.texts;
  auto ansi = [&texts](const WideString* text) {
    return text ? texts.WideToAnsi(*text) : std::string();
  };
  const std::string sectionText = ansi(section);
  const std::string keyText = ansi(key);
  const std::string value = ini_.ReadIniValue(
      sectionText, keyText.empty() ? std::nullopt : std::optional<std::string>(keyText),
      ansi(defaultValue), kIniStringBuffer);
  if (result) *result = texts.AnsiToWide(WithoutLogonPassword(sectionText, keyText, value));
  return kSOk;
}

HResult ServiceCalls::DeleteFileOnTimeout(const WideString* file) {
  supervisor_.SetTimeoutFile(file ? *file : WideString());
  return kSOk;
}

HResult ServiceCalls::Progress(const WideString* message, std::int32_t timeout) {
  // A negative time-out means nothing sensible; it counts as 0, the configured Timeout.
  ResumeIfPaused(supervisor_.SetRunningTS(true, message,
                                          timeout > 0 ? static_cast<std::uint32_t>(timeout) : 0));
  // A client that reports progress while it stops shows the Service Control Manager that the
  // stop gets on.
  run_.ReportStopProgress();
  return kSOk;
}

HResult ServiceCalls::Status(WideString* text) {
  const Supervisor::Status status = supervisor_.GetStatus();
  // The progress text stays wide: the code page may lack some of the client's characters. One
  // line each: a client's line breaks would start lines of their own.
  WideString progress = status.progress.value_or(WideString());
  for (char16_t& c : progress) {
    if (c == u'\r' || c == u'\n') c = u' ';
  }
  using namespace status_line;
  auto line = [](const char* name, const std::string& value) {
    return std::string(name) + "=" + value + "\r\n";
  };
  auto number = [](std::uint64_t value) { return std::to_string(value); };
  auto optional = [](const auto& value) { return value ? std::to_string(*value) : std::string(); };
  const std::string before =
      line(kClientRunning, number(status.clientRunning)) +
      line(kProcessId, number(status.processId)) + line(kRunSeconds, number(status.runMs / 1000)) +
      line(kRestarts, number(status.starts > 0 ? status.starts - 1 : 0)) +
      line(kHeartbeatAge, status.heartbeatAgeMs ? number(*status.heartbeatAgeMs / 1000) : "") +
      line(kTimeout, number(status.timeoutSeconds)) + kProgress + "=";
  const std::string after =
      "\r\n" + line(kPaused, number(status.paused)) + line(kTimedOut, number(status.timedOut)) +
      line(kStopping, number(status.stopping)) + line(kConnected, number(status.connected)) +
      line(kDeathRestarts, number(status.deathRestarts)) +
      line(kTimeoutRestarts, number(status.timeoutRestarts)) +
      line(kClientRestarts, number(status.clientRestarts)) + line(kPings, number(status.pings)) +
      line(kTimeouts, number(status.timeouts)) +
      line(kLastExitCode, optional(status.lastExitCode)) +
      line(kStartTime, optional(status.startTime)) + line(kOutputFile, status.outputFile) +
      line(kLastDump, status.lastDump) +
      (status.restartInMs ? line(kRestartIn, number((*status.restartInMs + 999) / 1000)) : "");
  ISystemTexts& texts = platform_.texts;
  if (text) *text = texts.AnsiToWide(before) + progress + texts.AnsiToWide(after);
  return kSOk;
}

}  // namespace keldran
