// The component's configuration: the INI file's path and settings with their macros, and the
// paths derived from them.
#include "config/service_config.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "config/client_settings.h"
#include "config/command_line.h"
#include "config/ini_keys.h"
#include "log/text.h"

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
  const bool grid = EqualsIgnoringCase(component, names::kDefaultComponent);
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
  if (StartsWithIgnoringCase(bare, kAuthority)) bare.remove_prefix(kAuthority.size());
  for (const char* builtIn : {"LocalService", "NetworkService"}) {
    if (EqualsIgnoringCase(bare, builtIn)) {
      *account = std::string(kAuthority) + builtIn;
      WipeSecret(&secret);
      return true;
    }
  }
  constexpr std::string_view kVirtual = "NT SERVICE\\";
  const bool virtualAccount =
      StartsWithIgnoringCase(name, kVirtual) && name.size() > kVirtual.size();
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

namespace {

using Refusal = std::optional<ConfigRefusal>;

Refusal Refuse(std::uint32_t id, std::optional<std::string> insert = std::nullopt) {
  return ConfigRefusal{id, std::move(insert)};
}

// A value is read into a 260-character buffer. One whose expansion does not fit is refused,
// naming the key, rather than cut: a cut path would point somewhere else.
Refusal ReadText(const IniReader& ini, const char* key, const std::string& defaultValue,
                 std::string* value) {
  std::size_t length = 0;
  *value =
      ini.ReadIniValue(names::kIniSection, std::string(key), defaultValue, kPathBuffer, &length);
  if (length <= kPathBuffer - 1) return std::nullopt;
  return Refuse(
      event::kIniMissingEntry,
      std::string(key) + " (the value is longer than 259 characters once its macros are expanded)");
}

// "component@file" names its own INI file, relative to the executable's directory; the plain
// form reads the file beside the executable. The event source follows the form.
Refusal LocateIniFile(IFileSystem& files, const std::string& component, ConfigLoad* load) {
  Configuration& c = load->config;
  const std::size_t at = component.find('@');
  c.ServiceComp = component.substr(0, at);
  const std::string besideExe = c.ExeDir + names::kIniBaseName + ".INI";
  if (at == std::string::npos) {
    c.IniFile = besideExe;
  } else {
    const std::string file = component.substr(at + 1);
    c.IniFile = files.PathCombine(c.ExeDir, file).value_or(c.ExeDir + file);
  }
  if (!files.PathFileExists(c.IniFile)) return Refuse(event::kIniNotFound, c.IniFile);
  load->eventSource = at == std::string::npos ? std::string(names::kServiceName)
                                              : names::kAtFormServicePrefix + c.ServiceComp;
  c.IniDir = c.IniFile.substr(0, files.PathFindFileName(c.IniFile));
  DropTrailingBackslash(&c.IniDir);
  c.WindowsDir = files.WindowsDirectory();
  DropTrailingBackslash(&c.WindowsDir);
  // An at-sign form that names the file beside the executable is the plain form.
  const bool ownIniFile = at != std::string::npos && !EqualsIgnoringCase(c.IniFile, besideExe);
  const ServiceIdentity service =
      ServiceIdentityFor(c.ServiceComp, ownIniFile, files.PathQuoteSpaces(c.ExePath), c.IniFile);
  c.ServiceName = service.name;
  c.DisplayName = service.displayName;
  c.ServicePath = service.imagePath;
  c.Description = names::kDescription;
  return std::nullopt;
}

// The folders and texts that later values may name through their macros, in table order.
Refusal ReadMacroValues(const IniReader& ini, Configuration* c) {
  for (const IniKey& key : kServiceKeys) {
    if (!key.text) continue;
    const std::string defaultValue = key.text == &Configuration::LogPre ? c->ServiceComp : "";
    if (Refusal r = ReadText(ini, key.name, defaultValue, &(c->*key.text))) return r;
    if (key.kind == IniValue::kFolder) DropTrailingBackslash(&(c->*key.text));
  }
  return std::nullopt;
}

// The client's command line, its working directory (by default the program's own) and the
// icon found beside the executable or the program.
Refusal ReadClientProgram(IFileSystem& files, const IniReader& ini, Configuration* c) {
  if (Refusal r = ReadText(ini, "CommandLine", "", &c->CommandLine)) return r;
  if (!c->CommandLine.empty() && c->CommandLine[0] == '@') c->CommandLine.erase(0, 1);
  // An at sign alone names no program either.
  if (c->CommandLine.empty()) return Refuse(event::kIniMissingEntry, "CommandLine");
  const std::string programDir =
      files.PathRemoveFileSpec(files.PathUnquoteSpaces(files.PathRemoveArgs(c->CommandLine)));
  const std::string defaultWorkingDir = files.PathCanonicalize(programDir).value_or(programDir);
  // Without macros, but refused like the others when it does not fit its buffer.
  std::string workingDir;
  files.GetProfileString(c->IniFile, std::string(names::kIniSection), std::string("WorkingDir"),
                         defaultWorkingDir, static_cast<std::uint32_t>(kReadAhead), &workingDir);
  if (workingDir.size() > kPathBuffer - 1)
    return Refuse(event::kIniMissingEntry, "WorkingDir (the value is longer than 259 characters)");
  if (workingDir.empty()) return Refuse(event::kIniMissingEntry, "WorkingDir");
  c->WorkingDir = std::move(workingDir);
  const std::string iconName = std::string(names::kServiceName) + ".ICO";
  c->IconFile.clear();
  for (const std::string& folder : {c->ExeDir, defaultWorkingDir + "\\"}) {
    if (files.PathFileExists(folder + iconName)) {
      c->IconFile = folder + iconName;
      break;
    }
  }
  return std::nullopt;
}

// "domain\user;password", ".\user;password" or "user;password" (a local account), or an
// account that needs no password.
Refusal ReadLogon(const IniReader& ini, Configuration* c) {
  std::string logon;
  if (Refusal r = ReadText(ini, names::kLogonKey, "", &logon)) return r;
  const bool logonOk = ParseLogon(logon, &c->LogonUser, &c->LogonPassword);
  WipeSecret(&logon);
  if (!logonOk) return Refuse(event::kIniLogonFormat);
  return std::nullopt;
}

void ReadNumbers(IFileSystem& files, Configuration* c) {
  for (const IniKey& key : kServiceKeys) {
    if (key.kind != IniValue::kNumber) continue;
    c->*key.number = static_cast<std::int32_t>(
        files.GetProfileInt(c->IniFile, names::kIniSection, key.name, key.defaultNumber));
  }
  if (c->MetricsInterval < 1 || c->MetricsInterval > kMaxMetricsInterval)
    c->MetricsInterval = kDefaultMetricsInterval;
}

// "Key: why" as an event's insertion string: the key with its reason.
std::string KeyWithReason(const std::string& problem) {
  const std::size_t colon = problem.find(": ");
  return problem.substr(0, colon) + " (" + problem.substr(colon + 2) + ")";
}

// Values that only registration or the client's start use. They are refused at every load
// like the others, so that a bad one shows before the service is registered with it; with
// problems given they are listed there instead.
Refusal ReadRunValues(IFileSystem& files, const IniReader& ini, Configuration* c,
                      std::vector<std::string>* problems) {
  // A relative metrics file lies beside the INI file.
  if (Refusal r = ReadText(ini, "MetricsFile", "", &c->MetricsFile)) return r;
  if (!c->MetricsFile.empty())
    c->MetricsFile = files.PathCombine(c->IniDir, c->MetricsFile).value_or(c->MetricsFile);
  std::vector<std::string> found;
  std::string recovery;
  files.GetProfileString(c->IniFile, std::string(names::kIniSection), std::string("Recovery"), "",
                         static_cast<std::uint32_t>(kReadAhead), &recovery);
  // An empty value is the default.
  if (recovery.find_first_not_of(" \t") == std::string::npos) recovery = kDefaultRecovery;
  std::string why;
  if (auto delays = ParseRecovery(recovery, &why)) {
    c->RecoveryDelays = std::move(*delays);
  } else {
    found.push_back("Recovery: " + why);
  }
  (void)LoadClientSettings(files, ini, c, &found);
  if (found.empty()) return std::nullopt;
  if (!problems) return Refuse(event::kIniMissingEntry, KeyWithReason(found.front()));
  problems->insert(problems->end(), found.begin(), found.end());
  return std::nullopt;
}

}  // namespace

ConfigLoad ReadServiceConfig(IFileSystem& files, const Configuration& programPaths,
                             const std::string& component,
                             const std::vector<CommandLineSetting>& settings,
                             std::vector<std::string>* problems) {
  ConfigLoad load;
  load.config = programPaths;
  Configuration& c = load.config;
  const IniReader ini(files, c);
  load.refusal = LocateIniFile(files, component, &load);
  if (!load.refusal) load.refusal = ReadMacroValues(ini, &c);
  if (!load.refusal) load.refusal = ReadClientProgram(files, ini, &c);
  if (!load.refusal) load.refusal = ReadLogon(ini, &c);
  if (!load.refusal) {
    ReadNumbers(files, &c);
    load.refusal = ReadRunValues(files, ini, &c, problems);
  }
  if (!load.refusal) ApplyCommandLineSettings(settings, &c);
  return load;
}

bool LoadServiceConfig(IFileSystem& files, ComponentLog& events, std::uint16_t eventCategory,
                       const std::string& component,
                       const std::vector<CommandLineSetting>& settings, Configuration* config,
                       std::vector<std::string>* problems) {
  ConfigLoad load = ReadServiceConfig(files, *config, component, settings, problems);
  *config = std::move(load.config);
  // The log learns what it needs as far as the file was read, so that a refusal is reported
  // under the component's event source and in its log folder.
  Log& log = events.log();
  if (!load.eventSource.empty()) log.setEventSourceName(load.eventSource);
  if (!config->LogDir.empty()) log.setLogDir(config->LogDir.c_str());
  if (load.refusal) {
    const char* strings[] = {load.refusal->insert ? load.refusal->insert->c_str() : nullptr};
    events.logEvent(event_type::kError, eventCategory, load.refusal->eventId, strings,
                    load.refusal->insert ? 1 : 0);
    return false;
  }
  log.setLogKeepDays(config->LogKeepDays);
  if (config->Trace != 0) log.setLogTrace(true);
  return true;
}

}  // namespace keldran
