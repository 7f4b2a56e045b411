// The start-up routine: every start of the program enters here, from the Service Control
// Manager, an administrator, or an installer package. It reads the component and the options,
// runs installer steps, loads the configuration, checks the option combination and the
// component's registration, and hands over to exactly one of registration, unregistration and
// the run.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "app/service_module.h"
#include "log/error_text.h"
#include "supervision/process.h"

namespace keldran {
namespace {

constexpr const char* kNotInstalled =
    "\r\nService not installed.\r\n\r\nRun KeldranService with /RegServ, /RegApp, or /Reg option.";
constexpr std::size_t kMaxServiceId = 99;

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// What "%d%c" accepts as exactly one item: an optional sign and digits, nothing after. Values
// beyond a 32-bit integer are refused too.
bool ParseTimeout(const std::string& text, std::int32_t* value) {
  const char* begin = text.c_str();
  while (*begin == ' ' || *begin == '\t') ++begin;
  if (*begin == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(begin, &end, 10);
  if (end == begin || *end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
    return false;
  *value = static_cast<std::int32_t>(parsed);
  return true;
}

// The option tokeniser: from the cursor, the next "/" or "-" (anywhere, also inside a word)
// starts an option that runs to the next blank; the cursor is left after the blanks that follow.
class OptionTokens {
 public:
  OptionTokens(ISystemTexts& texts, const std::string& line) : texts_(texts), line_(line) {}

  bool Next(std::string* token) {
    while (cursor_ < line_.size() && line_[cursor_] != '/' && line_[cursor_] != '-')
      cursor_ = texts_.CharNext(line_, cursor_);
    if (cursor_ >= line_.size()) return false;
    const std::size_t start = ++cursor_;
    while (cursor_ < line_.size() && line_[cursor_] != ' ') ++cursor_;
    *token = line_.substr(start, cursor_ - start);
    while (cursor_ < line_.size() && line_[cursor_] == ' ') ++cursor_;
    return true;
  }
  // After an option only the end of the text or another option may follow.
  bool AtOptionOrEnd() const {
    return cursor_ >= line_.size() || line_[cursor_] == '/' || line_[cursor_] == '-';
  }

 private:
  ISystemTexts& texts_;
  const std::string& line_;
  std::size_t cursor_ = 0;
};

}  // namespace

HResult CServiceModule::Startup(const std::string& commandLine) {
  Platform& p = platform_;
  auto rejectCommandLine = [this](const std::string& text) {
    return logError(category::kParameter, 117, text.c_str());
  };

  // 1. COM on this thread, for the life of the process.
  if (const HResult hr = p.com.Initialize(); Failed(hr)) {
    const std::string reason = errorText(p.texts, static_cast<std::uint32_t>(hr));
    return logError(category::kStartup, 116, "CoInitialize failure", reason.c_str());
  }

  // 2. Module paths.
  ExePath = p.files.LongPathName(p.processes.ModuleFileName());
  if (ExePath.size() > kPathBuffer - 1) ExePath.resize(kPathBuffer - 1);
  const std::size_t nameAt = p.files.PathFindFileName(ExePath);
  const std::string fileName = ExePath.substr(nameAt);
  AppName = fileName.substr(0, p.files.PathFindExtension(fileName));
  const std::string exeDir = p.files.PathRemoveFileSpec(ExePath);
  ExeDir = p.files.PathCanonicalize(exeDir).value_or(exeDir);
  if (ExeDir.empty() || ExeDir.back() != '\\') ExeDir += '\\';
  ServiceName = AppName;
  RunAsService = true;

  // 3. The component: the leading words (split at blanks only) up to the first option. The
  // whole command line is honoured, however long.
  {
    std::string component;
    std::size_t pos = 0;
    while (pos < commandLine.size()) {
      const std::size_t blank = commandLine.find(' ', pos);
      const std::string word =
          commandLine.substr(pos, blank == std::string::npos ? std::string::npos : blank - pos);
      pos = blank == std::string::npos ? commandLine.size() : blank + 1;
      if (word.empty()) continue;
      if (word[0] == '/' || word[0] == '-') break;
      if (!component.empty()) component += ' ';
      component += word;
    }
    ServiceComp = component.empty() ? names::kDefaultComponent : component;
  }

  // 4.
  RunAsService = (commandLine + " ").find("/Service ") != std::string::npos;

  // 5. Options.
  std::string givenOptions;
  std::string givenRegOptions;
  {
    using Kind = CommandLineSetting::Kind;
    OptionTokens tokens(p.texts, commandLine);
    std::string token;
    while (tokens.Next(&token)) {
      if (!tokens.AtOptionOrEnd())
        return rejectCommandLine("Unrecognized value following option /" + token);
      auto bothLists = [&](const char* entry) {
        givenOptions += entry;
        givenRegOptions += entry;
      };
      if (EqualsIgnoreCase(token, "Service")) {
        RunAsService = ServiceSwitch = Quiet = true;
        givenOptions += "/Service ";
      } else if (EqualsIgnoreCase(token, "Quiet")) {
        Quiet = true;
      } else if (EqualsIgnoreCase(token, "Reg")) {
        RegApp = RegServ = true;
        bothLists("/Reg ");
      } else if (EqualsIgnoreCase(token, "RegApp")) {
        RegApp = true;
        bothLists("/RegApp ");
      } else if (EqualsIgnoreCase(token, "RegServ")) {
        RegServ = true;
        bothLists("/RegServ ");
      } else if (EqualsIgnoreCase(token, "RegService")) {
        RegServ = true;
        bothLists("/RegService ");
      } else if (EqualsIgnoreCase(token, "UnReg")) {
        UnReg = true;
        givenOptions += "/UnReg ";
      } else if (EqualsIgnoreCase(token, "Commit")) {
        RegServ = CommitStep = Quiet = true;
        bothLists("/Commit ");
      } else if (EqualsIgnoreCase(token, "Uninstall")) {
        UnReg = RemoveStep = Quiet = true;
        bothLists("/Uninstall ");
      } else if (EqualsIgnoreCase(token, "Rollback")) {
        UnReg = RemoveStep = Quiet = true;
        bothLists("/Rollback ");
      } else if (EqualsIgnoreCase(token, "Debug")) {
        givenOptions += "/Debug ";
        CommandLineSettings.push_back({Kind::kDebug});
      } else if (EqualsIgnoreCase(token, "Release")) {
        givenOptions += "/Release ";
        CommandLineSettings.push_back({Kind::kRelease});
      } else if (token.size() >= 8 && EqualsIgnoreCase(token.substr(0, 8), "Timeout=")) {
        givenOptions += "/" + token + " ";
        std::int32_t seconds = 0;
        if (!ParseTimeout(token.substr(8), &seconds) || seconds < 0)
          return rejectCommandLine("Unrecognized parameter value specified for option /" + token);
        CommandLineSettings.push_back({Kind::kTimeout, seconds});
      } else if (EqualsIgnoreCase(token, "Show")) {
        givenOptions += "/Show ";
        CommandLineSettings.push_back({Kind::kShow});
      } else if (EqualsIgnoreCase(token, "Hide")) {
        givenOptions += "/Hide ";
        CommandLineSettings.push_back({Kind::kHide});
      } else if (EqualsIgnoreCase(token, "Auto") || EqualsIgnoreCase(token, "AutoStart")) {
        givenOptions += "/" + token + " ";
        CommandLineSettings.push_back({Kind::kAutoStart});
      } else if (EqualsIgnoreCase(token, "Manual")) {
        givenOptions += "/Manual ";
        CommandLineSettings.push_back({Kind::kManual});
      } else if (EqualsIgnoreCase(token, "Start")) {
        StartRequested = true;
      } else if (EqualsIgnoreCase(token, "Stop")) {
        StopRequested = true;
      } else {
        return rejectCommandLine("Option /" + token + " not recognized");
      }
    }
  }

  // 6. Installer steps: the companion files first. They report nothing; a failed commit ends
  // with the failing call's code.
  if (CommitStep || RemoveStep) {
    Process companion(p);
    if (CommitStep) {
      if (!companion.RegisterCompanionDll("%DIR%\\KeldranGridUtil.dll", true) ||
          !companion.PrepareIniFromTemplate("%DIR%\\Grid-example.ini") ||
          !companion.CopyIfMissing("%DIR%\\Grid.ini", "%DIR%\\Grid-example.ini") ||
          !companion.PrepareIniFromTemplate("%DIR%\\KeldranGridAgent-example.ini") ||
          !companion.CopyIfMissing("%DIR%\\KeldranGridAgent.ini",
                                   "%DIR%\\KeldranGridAgent-example.ini")) {
        return companion.LastResult();
      }
    } else {
      (void)companion.RegisterCompanionDll("%DIR%\\KeldranGridUtil.dll", false);
      // Without the host's INI file there is nothing registered to take away.
      if (!companion.FileCanBeOpened("%DIR%\\KeldranGridAgent.ini")) return kSOk;
    }
  }

  // 7.
  if (!LoadServiceConfig(category::kStartup, ServiceComp)) return kEFail;

  // 8. The option combination.
  const bool registration = RegApp || RegServ || UnReg;
  if (UnReg && (RegApp || RegServ))
    return rejectCommandLine("You cannot code /UnReg and " + givenRegOptions + " options together");
  if (StartRequested && StopRequested)
    return rejectCommandLine("You cannot code /Start option together with /Stop");
  if ((StartRequested || StopRequested) && !givenOptions.empty()) {
    return rejectCommandLine(std::string("You cannot code /") +
                             (StartRequested ? "Start" : "Stop") + " option together with " +
                             givenOptions);
  }

  // 9. The component's registration.
  const std::string keyPath = std::string("AppID\\") + names::kAppId + "\\Services\\" + ServiceComp;
  ScopedRegKey key(p.registry);
  if (p.registry.OpenKey(reg_root::kClassesRoot, keyPath, reg_access::kRead, key.put()) != 0) {
    if (!registration) return logError(category::kStartup, 116, kNotInstalled);
  } else {
    RegType type = RegType::kNone;
    std::vector<std::uint8_t> data;
    bool found = false;
    if (p.registry.QueryValue(key.get(), "ServiceID", &type, &data) == 0 &&
        (type == RegType::kSz || type == RegType::kExpandSz)) {
      // At most 99 characters and terminated; anything else counts as missing.
      const auto nul = std::find(data.begin(), data.end(), 0);
      if (nul != data.end() && static_cast<std::size_t>(nul - data.begin()) <= kMaxServiceId) {
        ServiceID.assign(data.begin(), nul);
        found = true;
      }
    }
    if (!found && !registration) {
      const std::string text =
          "Registry entry \"HKEY_CLASSES_ROOT\\" + keyPath + "\\ServiceID\" not found";
      return logError(category::kStartup, 116, text.c_str());
    }
    if (found) {
      std::uint32_t localService = 0;
      if (QueryDwordValue(p.registry, key.get(), "LocalService", &localService) != 0 ||
          localService != 1) {
        RunAsService = false;
      }
    }
  }

  // 10. Dispatch. The running-host lookup is made even without a ServiceID.
  if (RegApp || RegServ) {
    if (Failed(RefuseIfHostRuns(901))) return kEFail;
    if (!RegServ) RunAsService = false;
    return Failed(RegisterComponent(true, RegServ)) ? kEFail : kSOk;
  }
  if (UnReg) {
    if (Failed(RefuseIfHostRuns(905))) return kEFail;
    return Failed(UnregisterComponent()) ? kEFail : kSOk;
  }
  StartRun();
  if (Status.win32ExitCode != 0) return static_cast<HResult>(Status.win32ExitCode);
  return RunFailed ? kEFail : kSOk;
}

HResult CServiceModule::RefuseIfHostRuns(std::uint32_t eventId) {
  std::unique_ptr<IRunningHost> host;
  if (!FindRunningHost(&host)) return kEFail;
  if (!host) return kSOk;
  return logError(category::kInstall, eventId,
                  "Server is already running\r\n\r\nStop service and try again");
}

}  // namespace keldran
