// The component's configuration: the INI file's path and settings with their macros, and the
// paths derived from them.
#include "config/service_config.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "config/client_settings.h"
#include "config/command_line.h"

namespace keldran {
namespace {

// Macros of INI values, in the order they are replaced.
constexpr const char* kMacroNames[] = {"%COMP%",    "%INIDIR%", "%WINDIR%",
                                       "%DATADIR%", "%GSDIR%",  "%CTRLDOC%"};

// Values are read with room to spare, so that one too long for its 260-character buffer shows
// instead of being cut unnoticed by the profile function.
constexpr std::size_t kReadAhead = 32768;

void DropTrailingBackslash(std::string* text) {
  if (!text->empty() && text->back() == '\\') text->pop_back();
}

// Replaces every occurrence of one macro. Scanning goes on after each inserted value, so a value
// that holds the macro's own name (a component called "%COMP%") cannot make it loop.
void ReplaceMacro(std::string* text, const std::string& macro, const std::string& value) {
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text->find(macro, from);
    if (at == std::string::npos) return;
    text->replace(at, macro.size(), value);
    from = at + value.size();
  }
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What a command line needs around one word: quotes when it holds a blank.
std::string QuotedIfBlank(const std::string& word) {
  return word.find(' ') == std::string::npos ? word : "\"" + word + "\"";
}

}  // namespace

ServiceIdentity ServiceIdentityFor(const std::string& component, bool ownIniFile,
                                   const std::string& quotedExePath, const std::string& iniFile) {
  ServiceIdentity id;
  const bool grid = EqualsIgnoreCase(component, names::kDefaultComponent);
  id.name = names::kServiceName;
  id.displayName = names::kDisplayName;
  if (!grid) {
    id.name += names::kInstanceSeparator + component;
    id.displayName += " (" + component + ")";
  }
  id.namesComponent = !grid || ownIniFile;
  id.imagePath = quotedExePath;
  if (id.namesComponent) id.imagePath += " " + QuotedIfBlank(component + "@" + iniFile);
  id.imagePath += " /Service";
  return id;
}

bool ParseLogon(const std::string& text, std::string* account, std::string* password) {
  account->clear();
  WipeSecret(password);
  std::string logon = text;
  const std::size_t firstNonBlank = logon.find_first_not_of(' ');
  if (firstNonBlank != std::string::npos) logon.erase(0, firstNonBlank);
  if (logon.empty()) return true;
  const std::size_t semicolon = logon.find(';');
  std::string name = logon;
  std::string secret;
  if (semicolon != std::string::npos && semicolon != 0) {
    name = logon.substr(0, semicolon);
    secret = logon.substr(semicolon + 1);
  }
  WipeSecret(&logon);
  // The built-in accounts, virtual accounts and group managed service accounts have no password
  // of their own for the Service Control Manager; one given for them is dropped unused.
  constexpr std::string_view kAuthority = "NT AUTHORITY\\";
  std::string_view bare = name;
  if (StartsWithIgnoreCase(bare, kAuthority)) bare.remove_prefix(kAuthority.size());
  for (const char* builtIn : {"LocalService", "NetworkService"}) {
    if (EqualsIgnoreCase(bare, builtIn)) {
      *account = std::string(kAuthority) + builtIn;
      WipeSecret(&secret);
      return true;
    }
  }
  constexpr std::string_view kVirtual = "NT SERVICE\\";
  const bool virtualAccount = StartsWithIgnoreCase(name, kVirtual) && name.size() > kVirtual.size();
  const bool managed = name.size() > 1 && name.back() == '$';
  if (virtualAccount || managed) {
    *account = name;
    WipeSecret(&secret);
    return true;
  }
  if (name.empty() || secret.empty()) {
    WipeSecret(&secret);
    return false;
  }
  *account = name.find('\\') == std::string::npos ? ".\\" + name : name;
  *password = std::move(secret);
  return true;
}

std::optional<std::vector<std::uint32_t>> ParseRecovery(const std::string& text, std::string* why) {
  std::vector<std::uint32_t> delays;
  bool off = false;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t comma = text.find(',', pos);
    const std::string_view item = TrimBlanks(
        std::string_view(text).substr(pos, comma == std::string::npos ? comma : comma - pos));
    const bool digits = !item.empty() && item.size() <= 6 &&
                        item.find_first_not_of("0123456789") == std::string_view::npos;
    const std::uint32_t seconds =
        digits ? static_cast<std::uint32_t>(std::stoul(std::string(item))) : 0;
    if (!digits || seconds > kMaxRecoveryDelaySeconds) {
      *why = "\"" + text +
             "\" is not a comma-separated list of delays in whole seconds, each 1 to " +
             std::to_string(kMaxRecoveryDelaySeconds) + ", or 0 for none";
      return std::nullopt;
    }
    if (seconds == 0) {
      off = true;
    } else {
      delays.push_back(seconds);
    }
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  if (off && !delays.empty()) {
    *why = "\"" + text + "\" mixes 0, which turns recovery off, with delays";
    return std::nullopt;
  }
  if (delays.size() > kMaxRecoveryDelays) {
    *why = "\"" + text + "\" has more than " + std::to_string(kMaxRecoveryDelays) + " delays";
    return std::nullopt;
  }
  return delays;
}

std::string IniReader::ReadIniValue(const std::string& section,
                                    const std::optional<std::string>& key,
                                    const std::string& defaultValue, std::size_t bufferSize,
                                    std::size_t* expandedLength) const {
  std::string raw;
  if (key && !key->empty()) {
    const auto size = static_cast<std::uint32_t>(std::max(bufferSize, kReadAhead));
    files_.GetProfileString(config_.IniFile, section, *key, defaultValue, size, &raw);
  } else {
    files_.GetProfileSection(config_.IniFile, section, static_cast<std::uint32_t>(bufferSize),
                             &raw);
  }
  // Only the text before the first NUL (the first entry of a section) is expanded.
  std::string text = ExpandMacros(raw.substr(0, raw.find('\0')));
  if (expandedLength) *expandedLength = text.size();
  if (bufferSize > 0 && text.size() > bufferSize - 1) text.resize(bufferSize - 1);
  return text;
}

std::string IniReader::ExpandMacros(std::string text) const {
  const std::string* values[] = {&config_.ServiceComp, &config_.IniDir, &config_.WindowsDir,
                                 &config_.DataDir,     &config_.GSDir,  &config_.CtrlDoc};
  for (std::size_t i = 0; i < std::size(kMacroNames); ++i)
    ReplaceMacro(&text, kMacroNames[i], *values[i]);
  return text;
}

bool LoadServiceConfig(IFileSystem& files, ComponentLog& events, std::uint16_t eventCategory,
                       const std::string& componentName,
                       const std::vector<CommandLineSetting>& settings, Configuration* config,
                       std::vector<std::string>* problems) {
  Configuration& c = *config;
  Log& log = events.log();
  // A copy: the caller may hand in ServiceComp itself, which step 2 replaces.
  const std::string component = componentName;
  auto fail = [&](std::uint32_t id, const char* insert) {
    const char* strings[] = {insert};
    events.logEvent(event_type::kError, eventCategory, id, strings, insert ? 1 : 0);
    return false;
  };

  // 1. The event source; the service's names follow once the file is known (6).
  std::string eventSource = names::kServiceName;

  // 2. "component@file" names its own INI file, relative to the executable's directory.
  const std::size_t at = component.find('@');
  if (at != std::string::npos) {
    c.ServiceComp = component.substr(0, at);
    eventSource = names::kAtFormServicePrefix + c.ServiceComp;
    const std::string file = component.substr(at + 1);
    c.IniFile = files.PathCombine(c.ExeDir, file).value_or(c.ExeDir + file);
  } else {
    c.ServiceComp = component;
    c.IniFile = c.ExeDir + names::kIniBaseName + ".INI";
  }

  // 3.
  if (!files.PathFileExists(c.IniFile)) return fail(909, c.IniFile.c_str());

  // 4.
  c.IniDir = c.IniFile.substr(0, files.PathFindFileName(c.IniFile));
  DropTrailingBackslash(&c.IniDir);
  c.WindowsDir = files.WindowsDirectory();
  DropTrailingBackslash(&c.WindowsDir);
  log.setEventSourceName(eventSource);

  // A value is read into a 260-character buffer. One whose expansion does not fit is refused,
  // naming the key, rather than cut: a cut path would point somewhere else.
  const IniReader ini(files, c);
  bool tooLong = false;
  std::string tooLongKey;
  auto read = [&](const char* key, const std::string& defaultValue) {
    std::size_t length = 0;
    std::string value =
        ini.ReadIniValue(names::kIniSection, std::string(key), defaultValue, kPathBuffer, &length);
    if (length > kPathBuffer - 1 && !tooLong) {
      tooLong = true;
      tooLongKey = key;
    }
    return value;
  };
  auto refuseTooLong = [&]() {
    const std::string insert =
        tooLongKey + " (the value is longer than 259 characters once its macros are expanded)";
    return fail(910, insert.c_str());
  };

  // 5. In table order: each macro stands for its field's value at the moment of the read.
  c.DataDir = read("DataDir", "");
  if (tooLong) return refuseTooLong();
  DropTrailingBackslash(&c.DataDir);
  c.LogDir = read("LogDir", "");
  if (tooLong) return refuseTooLong();
  DropTrailingBackslash(&c.LogDir);
  if (!c.LogDir.empty()) log.setLogDir(c.LogDir.c_str());
  c.LogPre = read("LogPre", c.ServiceComp);
  c.GSDir = read("GSDir", "");
  if (tooLong) return refuseTooLong();
  DropTrailingBackslash(&c.GSDir);
  c.CtrlSrc = read("CtrlSrc", "");
  c.CtrlDoc = read("CtrlDoc", "");
  c.DeleteRegKeys = read("DeleteRegKeys", "");
  if (tooLong) return refuseTooLong();

  // 6. The component's service; the event source keeps the name it was given above.
  // An at-sign form that names the file beside the executable is the plain form.
  const bool ownIniFile = at != std::string::npos &&
                          !EqualsIgnoreCase(c.IniFile, c.ExeDir + names::kIniBaseName + ".INI");
  const ServiceIdentity service =
      ServiceIdentityFor(c.ServiceComp, ownIniFile, files.PathQuoteSpaces(c.ExePath), c.IniFile);
  c.ServiceName = service.name;
  c.DisplayName = service.displayName;
  c.ServicePath = service.imagePath;
  c.Description = names::kDescription;

  // 7.
  c.CommandLine = read("CommandLine", "");
  if (tooLong) return refuseTooLong();
  if (!c.CommandLine.empty() && c.CommandLine[0] == '@') c.CommandLine.erase(0, 1);
  // An at sign alone names no program either.
  if (c.CommandLine.empty()) return fail(910, "CommandLine");

  // 8. The default working directory is the program's own.
  const std::string programDir =
      files.PathRemoveFileSpec(files.PathUnquoteSpaces(files.PathRemoveArgs(c.CommandLine)));
  const std::string defaultWorkingDir = files.PathCanonicalize(programDir).value_or(programDir);
  // Without macros, but refused like the others when it does not fit its buffer.
  std::string workingDir;
  files.GetProfileString(c.IniFile, std::string(names::kIniSection), std::string("WorkingDir"),
                         defaultWorkingDir, static_cast<std::uint32_t>(kReadAhead), &workingDir);
  if (workingDir.size() > kPathBuffer - 1)
    return fail(910, "WorkingDir (the value is longer than 259 characters)");
  c.WorkingDir = std::move(workingDir);
  if (c.WorkingDir.empty()) return fail(910, "WorkingDir");

  // 9.
  const std::string iconName = std::string(names::kServiceName) + ".ICO";
  if (files.PathFileExists(c.ExeDir + iconName)) {
    c.IconFile = c.ExeDir + iconName;
  } else if (files.PathFileExists(defaultWorkingDir + "\\" + iconName)) {
    c.IconFile = defaultWorkingDir + "\\" + iconName;
  } else {
    c.IconFile.clear();
  }

  auto readInt = [&](const char* key, std::int32_t defaultValue) {
    return static_cast<std::int32_t>(
        files.GetProfileInt(c.IniFile, names::kIniSection, key, defaultValue));
  };

  // 10.
  c.AutoStart = readInt("AutoStart", 0);

  // 11. "domain\user;password", ".\user;password" or "user;password" (a local account), or an
  // account that needs no password.
  std::string logon = read(names::kLogonKey, "");
  if (tooLong) return refuseTooLong();
  const bool logonOk = ParseLogon(logon, &c.LogonUser, &c.LogonPassword);
  WipeSecret(&logon);
  if (!logonOk) return fail(912, nullptr);

  // 12.
  c.Show = readInt("Show", 0);
  c.Debug = readInt("Debug", 0);
  c.Trace = readInt("Trace", 0);
  c.Timeout = readInt("Timeout", 60);
  c.LogKeepDays = readInt("LogKeepDays", 0);
  c.RestartBackoff = readInt("RestartBackoff", 0);
  c.CaptureOutput = readInt("CaptureOutput", 1);
  c.OutputMaxMB = readInt("OutputMaxMB", 100);
  c.DumpKeep = readInt("DumpKeep", 5);
  c.DelayedStart = readInt("DelayedStart", 0);
  // A relative metrics file lies beside the INI file.
  c.MetricsFile = read("MetricsFile", "");
  if (tooLong) return refuseTooLong();
  if (!c.MetricsFile.empty())
    c.MetricsFile = files.PathCombine(c.IniDir, c.MetricsFile).value_or(c.MetricsFile);
  c.MetricsInterval = readInt("MetricsInterval", kDefaultMetricsInterval);
  if (c.MetricsInterval < 1 || c.MetricsInterval > kMaxMetricsInterval)
    c.MetricsInterval = kDefaultMetricsInterval;
  // Registration only, but refused at every load like the other values, so that a bad value
  // shows before the service is registered with it. An empty value is the default.
  std::string recovery;
  files.GetProfileString(c.IniFile, std::string(names::kIniSection), std::string("Recovery"), "",
                         static_cast<std::uint32_t>(kReadAhead), &recovery);
  if (recovery.find_first_not_of(" \t") == std::string::npos) recovery = kDefaultRecovery;
  std::string why;
  if (auto delays = ParseRecovery(recovery, &why)) {
    c.RecoveryDelays = std::move(*delays);
  } else if (problems) {
    problems->push_back("Recovery: " + why);
  } else {
    return fail(910, ("Recovery (" + why + ")").c_str());
  }
  // The client's surroundings: a bad value is refused like Recovery.
  std::vector<std::string> clientProblems;
  if (!LoadClientSettings(files, ini, &c, &clientProblems)) {
    if (!problems) {
      // "Key: why" as the entry's name with its reason.
      std::string insert = clientProblems.front();
      const std::size_t colon = insert.find(": ");
      insert = insert.substr(0, colon) + " (" + insert.substr(colon + 2) + ")";
      return fail(910, insert.c_str());
    }
    problems->insert(problems->end(), clientProblems.begin(), clientProblems.end());
  }
  log.setLogKeepDays(c.LogKeepDays);
  ApplyCommandLineSettings(settings, &c);
  if (c.Trace != 0) log.setLogTrace(true);
  return true;
}

}  // namespace keldran
