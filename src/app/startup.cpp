// The start-up routine: every start of the program enters here, from the Service Control
// Manager, an administrator, or an installer package. It reads the component and the options,
// runs installer steps, loads the configuration, checks the option combination and the
// component's registration, and hands over to exactly one of registration, unregistration and
// the run.
//
// Exit codes: 0 when the run or the operation ended as asked (a stop from any source counts);
// E_FAIL whenever a reported failure ended it; an installer step's companion-file failure ends
// with that failure's code. (A service tells the Service Control Manager more: the failure's own
// code as its service-specific exit code.)
#include <algorithm>
#include <cctype>

#include "app/host.h"
#include "config/command_line.h"
#include "install/companion_files.h"
#include "install/install_settings.h"
#include "install/registration.h"
#include "log/error_text.h"

namespace keldran {
namespace {

constexpr const char* kNotInstalled =
    "\r\nService not installed.\r\n\r\nRun KeldranService with /RegServ, /RegApp, or /Reg option.";
constexpr std::size_t kMaxServiceId = 99;

// The folder of the INI file that a component in the at-sign form names by an absolute path
// ("Grid@C:\Program Files\Keldran\bin\KeldranGridAgent.ini", or a UNC path); none for the
// plain form and for a path relative to the executable's folder. The component comes without
// the quotes that the command line put around it, its blanks and hyphens kept.
std::optional<std::string> AbsoluteIniFolder(const std::string& component) {
  const std::size_t at = component.find('@');
  if (at == std::string::npos) return std::nullopt;
  const std::string file = component.substr(at + 1);
  const bool drive = file.size() > 2 && std::isalpha(static_cast<unsigned char>(file[0])) &&
                     file[1] == ':' && file[2] == '\\';
  const bool unc = file.starts_with("\\\\");
  if (!drive && !unc) return std::nullopt;
  return file.substr(0, file.rfind('\\'));
}

}  // namespace

HResult Host::Startup(const std::string& commandLine) {
  if (const HResult hr = InitializeCom(); Failed(hr)) return hr;
  FillModulePaths();
  const CommandLineResult parsed = ParseCommandLine(platform.texts, commandLine);
  flags = parsed.parsed.flags;
  if (parsed.rejection) return RejectCommandLine(*parsed.rejection);
  // Installer steps look after the companion files first. Until the commit keeps the
  // installer's values, every way out puts the working INI file back as it was.
  IniSettingsEdit iniEdit(platform);
  if (flags.CommitStep || flags.RemoveStep) {
    if (const std::optional<HResult> end = RunInstallerCompanionSteps(
            parsed.parsed.component, parsed.parsed.iniSettings, &iniEdit))
      return *end;
  }
  // /Check lists a bad registration-only value with the other problems instead of failing.
  if (!LoadServiceConfig(platform.files, events, category::kStartup, parsed.parsed.component,
                         parsed.parsed.settings, &config,
                         flags.CheckRequested ? &loadProblems_ : nullptr)) {
    return kEFail;
  }
  if (auto rejection = CheckOptionCombination(parsed.parsed)) return RejectCommandLine(*rejection);
  const std::optional<ComponentRegistration> found = ReadRegistration();
  if (!found) return kEFail;
  if (flags.RegApp || flags.RegServ) return Register(&iniEdit);
  // The service account's password serves the creation of the service and nothing else.
  WipeSecret(&config.LogonPassword);
  if (flags.StatusRequested) return ReportStatus(*found);
  if (flags.CheckRequested) return CheckConfiguration();
  if (flags.UnReg) return Unregister();
  service.StartRun(flags.RunAsService, flags.StopRequested);
  return service.runFailed() ? kEFail : kSOk;
}

HResult Host::RejectCommandLine(const std::string& text) {
  return events.logError(category::kParameter, event::kInvalidParameter, text.c_str());
}

HResult Host::InitializeCom() {
  // COM on this thread, for the life of the process. Its call security is set before anything
  // is marshalled (the running-host lookup is), since COM takes it only before that; the run
  // checks that it is in place.
  if (const HResult hr = platform.com.Initialize(); Failed(hr)) {
    const std::string reason = errorText(platform.texts, static_cast<std::uint32_t>(hr));
    return events.logError(category::kStartup, event::kStartupFailed, "CoInitialize failure",
                           reason.c_str());
  }
  (void)platform.com.InitializeSecurity();
  return kSOk;
}

void Host::FillModulePaths() {
  IFileSystem& files = platform.files;
  config.ExePath = files.LongPathName(platform.processes.ModuleFileName());
  if (config.ExePath.size() > kPathBuffer - 1) config.ExePath.resize(kPathBuffer - 1);
  const std::string fileName = config.ExePath.substr(files.PathFindFileName(config.ExePath));
  config.AppName = fileName.substr(0, files.PathFindExtension(fileName));
  const std::string exeDir = files.PathRemoveFileSpec(config.ExePath);
  config.ExeDir = files.PathCanonicalize(exeDir).value_or(exeDir);
  if (config.ExeDir.empty() || config.ExeDir.back() != '\\') config.ExeDir += '\\';
  config.ServiceName = config.AppName;
}

std::optional<ComponentRegistration> Host::ReadRegistration() {
  IRegistry& registry = platform.registry;
  const bool registration = flags.RegApp || flags.RegServ || flags.UnReg;
  // The console commands report a missing registration themselves.
  const bool mayBeMissing = registration || flags.StatusRequested || flags.CheckRequested;
  const std::string keyPath =
      std::string("AppID\\") + names::kAppId + "\\Services\\" + config.ServiceComp;
  ComponentRegistration found;
  ScopedRegKey key(registry);
  if (registry.OpenKey(reg_root::kClassesRoot, keyPath, reg_access::kRead, key.put()) != 0) {
    if (mayBeMissing) return found;
    events.logError(category::kStartup, event::kStartupFailed, kNotInstalled);
    return std::nullopt;
  }
  found.keyFound = true;
  RegType type = RegType::kNone;
  std::vector<std::uint8_t> data;
  if (registry.QueryValue(key.get(), "ServiceID", &type, &data) == 0 &&
      (type == RegType::kSz || type == RegType::kExpandSz)) {
    // At most 99 characters and terminated; anything else counts as missing.
    const auto nul = std::find(data.begin(), data.end(), 0);
    if (nul != data.end() && static_cast<std::size_t>(nul - data.begin()) <= kMaxServiceId) {
      config.ServiceID.assign(data.begin(), nul);
      found.idFound = true;
    }
  }
  if (!found.idFound) {
    if (mayBeMissing) return found;
    const std::string text =
        "Registry entry \"HKEY_CLASSES_ROOT\\" + keyPath + "\\ServiceID\" not found";
    events.logError(category::kStartup, event::kStartupFailed, text.c_str());
    return std::nullopt;
  }
  std::uint32_t localService = 0;
  found.service =
      QueryDwordValue(registry, key.get(), "LocalService", &localService) == 0 && localService == 1;
  if (!found.service) flags.RunAsService = false;
  return found;
}

HResult Host::Register(IniSettingsEdit* iniEdit) {
  bool stoppedByCommit = false;
  if (flags.CommitStep) {
    if (!CheckInstallerValues()) return kEFail;
    iniEdit->Keep();
    if (!StopForInstallerStep(event::kInstallFailed, &stoppedByCommit)) return kEFail;
  }
  // The running-host lookup is made even without a ServiceID.
  if (Failed(RefuseIfHostRuns(event::kInstallFailed))) return kEFail;
  if (!flags.RegServ) flags.RunAsService = false;
  Registration install(platform, events, config, flags, window.tray());
  const HResult registered = install.RegisterComponent(true, flags.RegServ);
  WipeSecret(&config.LogonPassword);
  if (Failed(registered)) return kEFail;
  if (flags.CommitStep && !StartAfterCommit(stoppedByCommit)) return kEFail;
  return kSOk;
}

HResult Host::Unregister() {
  bool stopped = false;
  if (flags.RemoveStep && !StopForInstallerStep(event::kRemoveFailed, &stopped)) return kEFail;
  if (Failed(RefuseIfHostRuns(event::kRemoveFailed))) return kEFail;
  if (stopped) NoteStoppedByRemoval();
  Registration install(platform, events, config, flags, window.tray());
  return Failed(install.UnregisterComponent()) ? kEFail : kSOk;
}

// The commit step makes the companion DLL known and the working INI files from their examples,
// stopping at the first failure, and writes the installer's values into KeldranGridAgent.ini;
// uninstall and rollback take the DLL's registration away. They report nothing. A value means
// the step ends here with that code: a failure's, or 0 when there is nothing registered to take
// away (no host INI file).
std::optional<HResult> Host::RunInstallerCompanionSteps(const std::string& component,
                                                        const std::vector<IniSetting>& values,
                                                        IniSettingsEdit* edit) {
  CompanionFiles companion(platform);
  if (flags.CommitStep) {
    bool hostIniIsNew = false;
    if (!companion.RegisterCompanionDll("%DIR%\\KeldranGridUtil.dll", true) ||
        !companion.PrepareIniFromTemplate("%DIR%\\Grid-example.ini") ||
        !companion.CopyIfMissing("%DIR%\\Grid.ini", "%DIR%\\Grid-example.ini") ||
        !companion.PrepareIniFromTemplate("%DIR%\\KeldranGridAgent-example.ini") ||
        !companion.CopyIfMissing("%DIR%\\KeldranGridAgent.ini",
                                 "%DIR%\\KeldranGridAgent-example.ini", &hostIniIsNew)) {
      return companion.LastResult();
    }
    installerValues_ = SettingsToWrite(values, hostIniIsNew, flags.ReplaceConfig);
    installerValuesKeptOut_ =
        installerValues_.empty() && !SettingsToWrite(values, true, true).empty();
    const std::string file = config.ExeDir + names::kIniBaseName + ".ini";
    if (Win32Error e = edit->Apply(file, hostIniIsNew, installerValues_)) return ResultFromError(e);
    return std::nullopt;
  }
  // A removal step that names the installed INI file in the at-sign form works in that file's
  // folder: an installer's rollback runs a copy of the host from a temporary folder, where
  // neither the DLL nor the INI file is.
  const std::optional<std::string> folder = AbsoluteIniFolder(component);
  if (folder) companion.SetInstallFolder(*folder);
  (void)companion.RegisterCompanionDll("%DIR%\\KeldranGridUtil.dll", false);
  // The component's INI file tells whether there is a registration to take away: the one that
  // the at-sign form names, else the host's own.
  const std::size_t at = component.find('@');
  std::string iniName = std::string(names::kIniBaseName) + ".ini";
  if (at != std::string::npos) {
    iniName = component.substr(at + 1);
    if (folder) iniName = iniName.substr(iniName.rfind('\\') + 1);
  }
  if (companion.FileCanBeOpened("%DIR%\\" + iniName)) return std::nullopt;
  const std::string text = "Nothing to unregister: the INI file " +
                           (folder ? *folder + "\\" : config.ExeDir) + iniName + " does not exist";
  events.logInfo(category::kInstall, event::kText, text.c_str());
  (void)platform.texts.WriteStandardStream(ISystemTexts::Stream::kError, text + "\r\n");
  return kSOk;
}

HResult Host::RefuseIfHostRuns(std::uint32_t eventId) {
  std::unique_ptr<IRunningHost> host;
  if (!service.FindRunningHost(&host)) return kEFail;
  if (!host) return kSOk;
  return events.logError(category::kInstall, eventId,
                         "Server is already running\r\n\r\nStop service and try again");
}

}  // namespace keldran
