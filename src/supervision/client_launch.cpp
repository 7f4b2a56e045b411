// Starting the configured client program, the first time and at every restart, and the
// read-only attribute of the control document.
#include "app/service_module.h"
#include "log/error_text.h"
#include "supervision/process.h"

namespace keldran {
namespace {

constexpr std::uint32_t kClientStarted = 105;
constexpr std::uint32_t kClientNotStarted = 106;
constexpr std::uint32_t kPlainMessage = 1001;

}  // namespace

void CServiceModule::LaunchClient(bool quitOnFailure) {
  // A fresh life for the new client.
  LastHeartbeat = kNoHeartbeat;
  HeartbeatTimeout = 0;
  Paused = false;
  TimedOut = false;
  ConnectedOnce = false;

  // The client learns who its host is twice: as the last words of its command line, and in the
  // host's environment, which it inherits.
  const std::string parameters = " /ServiceID=" + ServiceID + " /ServiceName=" + ServiceName;
  const std::string commandLine = CommandLine + parameters;
  (void)platform_.processes.SetEnvironmentVariable(names::kClientParamsVariable, parameters);

  DeleteRegistryKeys();

  Win32Error error = 0;
  const std::uint16_t show = Show != 0 ? show_window::kShow : show_window::kHide;
  ClientRunning = client_.Start(commandLine, show, &error);
  if (ClientRunning) {
    ClientLaunched = true;
    logInfo(category::kStartup, kClientStarted);
    return;
  }

  const std::string what = ": Cannot run command:\n\n" + commandLine;
  const std::string why = errorText(platform_.texts, error);
  (void)logError(category::kStartup, kClientNotStarted, what.c_str(), why.c_str());
  if (quitOnFailure) RequestQuit();
}

bool CServiceModule::ApplyCtrlDocAttribute() {
  if (CtrlDoc.empty()) return true;
  IFileSystem& files = platform_.files;

  auto refuse = [this](Win32Error error) {
    const std::string message = "Could not set file attributes on CtrlDoc file: " + CtrlDoc +
                                errorText(platform_.texts, error);
    (void)logError(category::kStartup, kPlainMessage, message.c_str());
    return false;
  };

  Win32Error error = 0;
  const std::uint32_t attributes = files.GetFileAttributes(CtrlDoc, &error);
  // A control document that the administrator named but that cannot be found (or queried) is
  // refused: running without the protection it was configured for would go unnoticed.
  if (attributes == file_attribute::kInvalid) return refuse(error);

  const std::uint32_t wanted = RunAsService ? attributes | file_attribute::kReadOnly
                                            : attributes & ~file_attribute::kReadOnly;
  if (wanted == attributes) return true;

  if (const Win32Error e = files.SetFileAttributes(CtrlDoc, wanted)) return refuse(e);
  const std::string message = (RunAsService ? "Set read-only attribute on CtrlDoc file: "
                                            : "Cleared read-only attribute on CtrlDoc file: ") +
                              CtrlDoc;
  logInfo(category::kStartup, kPlainMessage, message.c_str());
  return true;
}

}  // namespace keldran
