// The component's configuration: fixed names of this build, the INI file's path and settings
// with their macros, and the paths derived from them.
#include <algorithm>

#include "app/service_module.h"
#include "log/error_text.h"

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

std::string CServiceModule::ReadIniValue(const std::string& section,
                                         const std::optional<std::string>& key,
                                         const std::string& defaultValue, std::size_t bufferSize,
                                         std::size_t* expandedLength) {
  IFileSystem& files = platform_.files;
  std::string raw;
  if (key && !key->empty()) {
    // Read with room to spare, so that a value too long for the caller's buffer shows in
    // *expandedLength instead of being cut unnoticed by the profile function.
    constexpr std::size_t kReadAhead = 32768;
    const auto size = static_cast<std::uint32_t>(std::max(bufferSize, kReadAhead));
    files.GetProfileString(IniFile, section, *key, defaultValue, size, &raw);
  } else {
    files.GetProfileSection(IniFile, section, static_cast<std::uint32_t>(bufferSize), &raw);
  }
  // Only the text before the first NUL (the first entry of a section) is expanded.
  std::string text = raw.substr(0, raw.find('\0'));
  const std::string values[] = {ServiceComp, IniDir, WindowsDir, DataDir, GSDir, CtrlDoc};
  for (std::size_t i = 0; i < std::size(kMacroNames); ++i)
    ReplaceMacro(&text, kMacroNames[i], values[i]);
  if (expandedLength) *expandedLength = text.size();
  if (bufferSize > 0 && text.size() > bufferSize - 1) text.resize(bufferSize - 1);
  return text;
}

bool CServiceModule::LoadServiceConfig(std::uint16_t eventCategory,
                                       const std::string& componentName) {
  IFileSystem& files = platform_.files;
  // A copy: the caller may hand in ServiceComp itself, which step 2 replaces.
  const std::string component = componentName;
  auto fail = [&](std::uint32_t id, const char* insert) {
    const char* strings[] = {insert};
    logEvent(event_type::kError, eventCategory, id, strings, insert ? 1 : 0);
    return false;
  };

  // 1. The service's image path and, for now, its name.
  ServicePath = files.PathQuoteSpaces(ExePath) + " /Service";
  ServiceName = names::kServiceName;

  // 2. "component@file" names its own INI file, relative to the executable's directory.
  const std::size_t at = component.find('@');
  if (at != std::string::npos) {
    ServiceComp = component.substr(0, at);
    ServiceName = names::kAtFormServicePrefix + ServiceComp;
    const std::string file = component.substr(at + 1);
    IniFile = files.PathCombine(ExeDir, file).value_or(ExeDir + file);
  } else {
    ServiceComp = component;
    IniFile = ExeDir + names::kIniBaseName + ".INI";
  }

  // 3.
  if (!files.PathFileExists(IniFile)) return fail(909, IniFile.c_str());

  // 4.
  IniDir = IniFile.substr(0, files.PathFindFileName(IniFile));
  DropTrailingBackslash(&IniDir);
  WindowsDir = files.WindowsDirectory();
  DropTrailingBackslash(&WindowsDir);
  log_.setEventSourceName(ServiceName);

  // A value is read into a 260-character buffer. One whose expansion does not fit is refused,
  // naming the key, rather than cut: a cut path would point somewhere else.
  bool tooLong = false;
  std::string tooLongKey;
  auto read = [&](const char* key, const std::string& defaultValue) {
    std::size_t length = 0;
    std::string value =
        ReadIniValue(names::kIniSection, std::string(key), defaultValue, kPathBuffer, &length);
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
  DataDir = read("DataDir", "");
  if (tooLong) return refuseTooLong();
  DropTrailingBackslash(&DataDir);
  LogDir = read("LogDir", "");
  if (tooLong) return refuseTooLong();
  DropTrailingBackslash(&LogDir);
  if (!LogDir.empty()) log_.setLogDir(LogDir.c_str());
  LogPre = read("LogPre", ServiceComp);
  GSDir = read("GSDir", "");
  if (tooLong) return refuseTooLong();
  DropTrailingBackslash(&GSDir);
  CtrlSrc = read("CtrlSrc", "");
  CtrlDoc = read("CtrlDoc", "");
  DeleteRegKeys = read("DeleteRegKeys", "");
  if (tooLong) return refuseTooLong();

  // 6. From here on the service name is the fixed one in both forms; only the event source
  // keeps the at-sign form's name.
  ServiceName = names::kServiceName;
  DisplayName = names::kDisplayName;
  Description = names::kDescription;

  // 7.
  CommandLine = read("CommandLine", "");
  if (tooLong) return refuseTooLong();
  if (CommandLine.empty()) return fail(910, "CommandLine");
  if (CommandLine[0] == '@') CommandLine.erase(0, 1);

  // 8. The default working directory is the program's own.
  const std::string programDir =
      files.PathRemoveFileSpec(files.PathUnquoteSpaces(files.PathRemoveArgs(CommandLine)));
  const std::string defaultWorkingDir = files.PathCanonicalize(programDir).value_or(programDir);
  files.GetProfileString(IniFile, std::string(names::kIniSection), std::string("WorkingDir"),
                         defaultWorkingDir, static_cast<std::uint32_t>(kPathBuffer), &WorkingDir);
  if (WorkingDir.empty()) return fail(910, "WorkingDir");

  // 9.
  const std::string iconName = ServiceName + ".ICO";
  if (files.PathFileExists(ExeDir + iconName)) {
    IconFile = ExeDir + iconName;
  } else if (files.PathFileExists(defaultWorkingDir + "\\" + iconName)) {
    IconFile = defaultWorkingDir + "\\" + iconName;
  } else {
    IconFile.clear();
  }

  auto readInt = [&](const char* key, std::int32_t defaultValue) {
    return static_cast<std::int32_t>(
        files.GetProfileInt(IniFile, names::kIniSection, key, defaultValue));
  };

  // 10.
  AutoStart = readInt("AutoStart", 0);

  // 11. "domain\user;password", ".\user;password" or "user;password" (a local account).
  LogonUser.clear();
  LogonPassword.clear();
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
    if (account.empty() || password.empty()) return fail(912, nullptr);
    if (account.find('\\') == std::string::npos) account = ".\\" + account;
    LogonUser = account;
    LogonPassword = password;
  }

  // 12.
  Show = readInt("Show", 0);
  Debug = readInt("Debug", 0);
  Trace = readInt("Trace", 0);
  Timeout = readInt("Timeout", 60);
  ApplyCommandLineSettings();
  if (Trace != 0) log_.setLogTrace(true);
  return true;
}

void CServiceModule::ApplyCommandLineSettings() {
  using Kind = CommandLineSetting::Kind;
  bool timeoutGiven = false, showGiven = false, hideGiven = false;
  for (const auto& setting : CommandLineSettings) {
    switch (setting.kind) {
      case Kind::kDebug:
        Debug = 1;
        if (!timeoutGiven) Timeout = 0;
        if (!hideGiven) Show = 1;
        break;
      case Kind::kRelease:
        Debug = 0;
        if (!timeoutGiven && Timeout == 0) Timeout = 60;
        if (!showGiven) Show = 0;
        break;
      case Kind::kTimeout:
        Timeout = setting.value;
        timeoutGiven = true;
        break;
      case Kind::kShow:
        Show = 1;
        showGiven = true;
        break;
      case Kind::kHide:
        Show = 0;
        hideGiven = true;
        break;
      case Kind::kAutoStart:
        AutoStart = 1;
        break;
      case Kind::kManual:
        AutoStart = 0;
        break;
    }
  }
}

}  // namespace keldran
