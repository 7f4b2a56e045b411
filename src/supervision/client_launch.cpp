// Starting the configured client program, the first time and at every restart, and the
// read-only attribute of the control document.
#include "log/error_text.h"
#include "log/text.h"
#include "supervision/supervisor.h"

namespace keldran {
namespace {

OutputSettings OutputSettingsOf(const Configuration& config) {
  OutputSettings settings;
  settings.directory = config.LogDir;
  settings.component = config.ServiceComp;
  if (config.OutputMaxMB > 0)
    settings.capBytes = static_cast<std::uint64_t>(config.OutputMaxMB) << 20;
  settings.keepDays = config.LogKeepDays;
  return settings;
}

}  // namespace

bool Supervisor::LaunchClient() {
  // A fresh life for the new client. Its window is not known until it connects: pings and the
  // stop notice must not go to the window of the client it replaces.
  {
    LockGuard guard(*lock_);
    if (stopCode_) return true;
    lastHeartbeat_.reset();
    heartbeatTimeout_ = 0;
    paused_ = false;
    timedOut_ = false;
    connectedOnce_ = false;
    clientWindow_ = 0;
  }

  // The client learns who its host is twice: as the last words of its command line, and in the
  // host's environment, which it inherits.
  const std::string parameters =
      " /ServiceID=" + config_.ServiceID + " /ServiceName=" + config_.ServiceName;
  const std::string commandLine = config_.CommandLine + parameters;
  (void)platform_.processes.SetEnvironmentVariable(names::kClientParamsVariable, parameters);

  if (beforeLaunch_) beforeLaunch_();

  // A capture that the previous client's end left open ends here, before the lock is taken:
  // its end waits for the reader thread.
  if (config_.CaptureOutput != 0) (void)output_.Finish();

  Win32Error error = 0;
  bool started;
  bool reportUnguarded = false;
  std::string tuningError;
  Win32Error captureError = 0;
  bool reportCapture = false;
  {
    // The start and the stop check are one step, so a stop that begins meanwhile either finds
    // the new client to wait for or forbids its start.
    LockGuard guard(*lock_);
    if (stopCode_) return true;
    const std::uint16_t show = Settings().show != 0 ? show_window::kShow : show_window::kHide;
    StartOptions options = ClientStartOptions(parameters, show);
    const bool capture = config_.CaptureOutput != 0;
    if (capture) captureError = output_.Attach(OutputSettingsOf(config_), &options.startup);
    started = client_.Start(commandLine, std::move(options), &error);
    if (capture && captureError == 0) captureError = output_.Started(started);
    clientRunning_ = started;
    if (started) {
      clientLaunched_ = true;
      startedAt_ = platform_.clock.TickCount64();
      startedAtTime_ = platform_.clock.Time64();
      ++starts_;
      ++changes_;
      endLogged_ = false;
      endHandled_ = false;
      // Once a run is enough: every restart would meet the same cause.
      if (client_.JobError() != 0 && !unguardedReported_)
        reportUnguarded = unguardedReported_ = true;
      tuningError = client_.TuningError();
      if (!tuningError.empty() && !tuningReported_) {
        tuningReported_ = true;
      } else {
        tuningError.clear();
      }
      if (captureError != 0 && !captureReported_) reportCapture = captureReported_ = true;
    }
  }
  if (started) {
    events_.logInfo(category::kStartup, event::kClientStarted);
    if (reportUnguarded) {
      const std::string message =
          "The client runs outside a job object: it would outlive a host that is killed." +
          errorText(platform_.texts, client_.JobError());
      events_.logWarning(category::kStartup, event::kText, message.c_str());
    }
    if (!tuningError.empty()) {
      const std::string message = "The client runs as the system chose: " + tuningError;
      events_.logWarning(category::kStartup, event::kText, message.c_str());
    }
    if (reportCapture) {
      const std::string message =
          "The client's output is not captured." + errorText(platform_.texts, captureError);
      events_.logWarning(category::kStartup, event::kText, message.c_str());
    }
    return true;
  }
  const std::string what = ": Cannot run command:\n\n" + commandLine;
  const std::string why = errorText(platform_.texts, error);
  (void)events_.logError(category::kStartup, event::kClientNotStarted, what.c_str(), why.c_str());
  return false;
}

StartOptions Supervisor::ClientStartOptions(const std::string& parameters,
                                            std::uint16_t show) const {
  StartOptions options;
  options.startup.showWindow = show;
  // A console client gets a console of its own, so that a stop can reach it with Ctrl+Break.
  options.startup.ownConsole = true;
  options.priorityClass = config_.PriorityClass;
  options.affinityMask = config_.AffinityMask;
  if (!config_.Environment.empty()) {
    // The host's variables, the configured ones over them, and the client's parameters last, so
    // that no configured variable can change who the client's host is.
    std::vector<std::string> entries = platform_.processes.EnvironmentStrings();
    auto set = [&entries](const std::string& name, const std::string& value) {
      auto same = [&name](const std::string& entry) {
        return entry.size() > name.size() && entry[name.size()] == '=' &&
               EqualsIgnoringCase(entry.substr(0, name.size()), name);
      };
      std::erase_if(entries, same);
      entries.push_back(name + "=" + value);
    };
    for (const auto& [name, value] : config_.Environment) set(name, value);
    set(names::kClientParamsVariable, parameters);
    std::string block;
    for (const std::string& entry : entries) block += entry + '\0';
    options.startup.environment = std::move(block);
  }
  return options;
}

bool Supervisor::ApplyCtrlDocAttribute(bool runAsService) {
  const std::string& ctrlDoc = config_.CtrlDoc;
  if (ctrlDoc.empty()) return true;
  IFileSystem& files = platform_.files;

  auto refuse = [&](Win32Error error) {
    const std::string message = "Could not set file attributes on CtrlDoc file: " + ctrlDoc +
                                errorText(platform_.texts, error);
    (void)events_.logError(category::kStartup, event::kText, message.c_str());
    return false;
  };

  Win32Error error = 0;
  const std::uint32_t attributes = files.GetFileAttributes(ctrlDoc, &error);
  // A control document that the administrator named but that cannot be found (or queried) is
  // refused: running without the protection it was configured for would go unnoticed.
  if (attributes == file_attribute::kInvalid) return refuse(error);

  const std::uint32_t wanted = runAsService ? attributes | file_attribute::kReadOnly
                                            : attributes & ~file_attribute::kReadOnly;
  if (wanted == attributes) return true;

  if (const Win32Error e = files.SetFileAttributes(ctrlDoc, wanted)) return refuse(e);
  const std::string message = (runAsService ? "Set read-only attribute on CtrlDoc file: "
                                            : "Cleared read-only attribute on CtrlDoc file: ") +
                              ctrlDoc;
  events_.logInfo(category::kStartup, event::kText, message.c_str());
  return true;
}

}  // namespace keldran
