// The component's configuration: the INI file's path and settings with their macros, and the
// paths derived from them.
#include "config/service_config.h"

#include <algorithm>

#include "config/command_line.h"

namespace keldran {
namespace {

// Macros of INI values, in the order they are replaced.
constexpr const char* kMacroNames[] = {"%COMP%",    "%INIDIR%", "%WINDIR%",
                                       "%DATADIR%", "%GSDIR%",  "%CTRLDOC%"};

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

}  // namespace

std::string IniReader::ReadIniValue(const std::string& section,
                                    const std::optional<std::string>& key,
                                    const std::string& defaultValue, std::size_t bufferSize,
                                    std::size_t* expandedLength) const {
  std::string raw;
  if (key && !key->empty()) {
    // Read with room to spare, so that a value too long for the caller's buffer shows in
    // *expandedLength instead of being cut unnoticed by the profile function.
    constexpr std::size_t kReadAhead = 32768;
    const auto size = static_cast<std::uint32_t>(std::max(bufferSize, kReadAhead));
    files_.GetProfileString(config_.IniFile, section, *key, defaultValue, size, &raw);
  } else {
    files_.GetProfileSection(config_.IniFile, section, static_cast<std::uint32_t>(bufferSize),
                             &raw);
  }
  // Only the text before the first NUL (the first entry of a section) is expanded.
  std::string text = raw.substr(0, raw.find('\0'));
  const std::string* values[] = {&config_.ServiceComp, &config_.IniDir, &config_.WindowsDir,
                                 &config_.DataDir,     &config_.GSDir,  &config_.CtrlDoc};
  for (std::size_t i = 0; i < std::size(kMacroNames); ++i)
    ReplaceMacro(&text, kMacroNames[i], *values[i]);
  if (expandedLength) *expandedLength = text.size();
  if (bufferSize > 0 && text.size() > bufferSize - 1) text.resize(bufferSize - 1);
  return text;
}

bool LoadServiceConfig(IFileSystem& files, ComponentLog& events, std::uint16_t eventCategory,
                       const std::string& componentName,
                       const std::vector<CommandLineSetting>& settings, Configuration* config) {
  Configuration& c = *config;
  Log& log = events.log();
  // A copy: the caller may hand in ServiceComp itself, which step 2 replaces.
  const std::string component = componentName;
  auto fail = [&](std::uint32_t id, const char* insert) {
    const char* strings[] = {insert};
    events.logEvent(event_type::kError, eventCategory, id, strings, insert ? 1 : 0);
    return false;
  };

  // 1. The service's image path and, for now, its name.
  c.ServicePath = files.PathQuoteSpaces(c.ExePath) + " /Service";
  c.ServiceName = names::kServiceName;

  // 2. "component@file" names its own INI file, relative to the executable's directory.
  const std::size_t at = component.find('@');
  if (at != std::string::npos) {
    c.ServiceComp = component.substr(0, at);
    c.ServiceName = names::kAtFormServicePrefix + c.ServiceComp;
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
  log.setEventSourceName(c.ServiceName);

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

  // 6. From here on the service name is the fixed one in both forms; only the event source
  // keeps the at-sign form's name.
  c.ServiceName = names::kServiceName;
  c.DisplayName = names::kDisplayName;
  c.Description = names::kDescription;

  // 7.
  c.CommandLine = read("CommandLine", "");
  if (tooLong) return refuseTooLong();
  if (c.CommandLine.empty()) return fail(910, "CommandLine");
  if (c.CommandLine[0] == '@') c.CommandLine.erase(0, 1);

  // 8. The default working directory is the program's own.
  const std::string programDir =
      files.PathRemoveFileSpec(files.PathUnquoteSpaces(files.PathRemoveArgs(c.CommandLine)));
  const std::string defaultWorkingDir = files.PathCanonicalize(programDir).value_or(programDir);
  files.GetProfileString(c.IniFile, std::string(names::kIniSection), std::string("WorkingDir"),
                         defaultWorkingDir, static_cast<std::uint32_t>(kPathBuffer), &c.WorkingDir);
  if (c.WorkingDir.empty()) return fail(910, "WorkingDir");

  // 9.
  const std::string iconName = c.ServiceName + ".ICO";
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

  // 11. "domain\user;password", ".\user;password" or "user;password" (a local account).
  c.LogonUser.clear();
  WipeSecret(&c.LogonPassword);
  std::string logon = read("Logon", "");
  if (tooLong) return refuseTooLong();
  const std::size_t firstNonBlank = logon.find_first_not_of(' ');
  if (firstNonBlank != std::string::npos) logon.erase(0, firstNonBlank);
  if (!logon.empty()) {
    const std::size_t semicolon = logon.find(';');
    std::string account = logon;
    std::string password;
    if (semicolon != std::string::npos && semicolon != 0) {
      account = logon.substr(0, semicolon);
      password = logon.substr(semicolon + 1);
    }
    WipeSecret(&logon);
    if (account.empty() || password.empty()) {
      WipeSecret(&password);
      return fail(912, nullptr);
    }
    if (account.find('\\') == std::string::npos) account = ".\\" + account;
    c.LogonUser = account;
    c.LogonPassword = std::move(password);
  }

  // 12.
  c.Show = readInt("Show", 0);
  c.Debug = readInt("Debug", 0);
  c.Trace = readInt("Trace", 0);
  c.Timeout = readInt("Timeout", 60);
  ApplyCommandLineSettings(settings, &c);
  if (c.Trace != 0) log.setLogTrace(true);
  return true;
}

}  // namespace keldran
