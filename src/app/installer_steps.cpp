// The installer's steps around registration: the values that the commit wrote into the working
// INI file, checked as /Check checks them; a host that runs when a step would change its
// registration, stopped first as an administrator would; and the service started again once the
// commit is done.
#include "app/host.h"
#include "install/install_settings.h"
#include "install/service_installation.h"

namespace keldran {

bool Host::CheckInstallerValues() {
  if (installerValuesKeptOut_) {
    const std::string text = config.IniFile +
                             " exists: the installer's values were not written into it "
                             "(the installer's REPLACECONFIG=1 writes them)";
    events.logInfo(category::kInstall, event::kText, text.c_str());
  }
  if (installerValues_.empty()) return true;
  // Only the given keys: the rest of the file is the administrator's, and the example's client
  // program is not installed by the package.
  std::string refused;
  for (const std::string& problem : ConfigurationProblems()) {
    for (const IniSetting& value : installerValues_) {
      if (problem.starts_with(value.key + ": ")) refused += (refused.empty() ? "" : "; ") + problem;
    }
  }
  if (refused.empty()) return true;
  const std::string text = "The installer's values for " + config.IniFile +
                           " were refused, and the file is left as it was: " + refused;
  (void)events.logError(category::kInstall, event::kInstallFailed, text.c_str());
  return false;
}

bool Host::StopForInstallerStep(std::uint32_t eventId, bool* ran) {
  std::unique_ptr<IRunningHost> running;
  if (!service.FindRunningHost(&running)) return false;
  *ran = running != nullptr;
  running.reset();
  // As /Stop: the host itself hears it whatever state its service is in (Windows takes no stop
  // from a service that is still starting, as one whose client never connected is), and the
  // wait ends when the host has.
  if (*ran) {
    service.StartRun(false, true);
    if (service.runFailed()) return false;
  }
  // A service under another account is not in this account's table: its manager stops it.
  bool serviceRan = false;
  ServiceInstallation installation(platform, events, config);
  if (!installation.StopService(kInstallerStopWaitMs, eventId, &serviceRan)) return false;
  *ran = *ran || serviceRan;
  return true;
}

std::string Host::StoppedByRemovalMarker() const {
  return config.IniDir + "\\" + config.ServiceName + ".restart";
}

// The commit of an upgrade starts the service again when the removal of the package it replaces
// had to stop it. That removal runs first and on its own, so it leaves a word beside the INI file.
void Host::NoteStoppedByRemoval() {
  ScopedFile file(platform.files);
  (void)platform.files.CreateFile(StoppedByRemovalMarker(), file_access::kGenericWrite,
                                  file_share::kNone, file_creation::kCreateAlways,
                                  file_attribute::kNormal, file.put());
}

bool Host::StartAfterCommit(bool stoppedByCommit) {
  const std::string marker = StoppedByRemovalMarker();
  const bool stoppedByRemoval = platform.files.PathFileExists(marker);
  if (stoppedByRemoval) (void)platform.files.DeleteFile(platform.texts.AnsiToWide(marker));
  if (!StartsAfterCommit(config.AutoStart, stoppedByCommit, flags.UpgradeCommit, stoppedByRemoval))
    return true;
  ServiceInstallation installation(platform, events, config);
  return installation.StartService();
}

}  // namespace keldran
