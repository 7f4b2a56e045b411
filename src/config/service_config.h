#pragma once
// The component's configuration from its INI file: where the file is, every value with its
// macros, and the settings of the command line applied over them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "log/component_log.h"
#include "platform/files.h"

namespace keldran {

// Reads the component's INI file: a key's value (or the default), or with no or an empty key the
// whole section as NUL-terminated key=value lines; then replaces the macros in the text before
// the first NUL, each with its configuration value as it stands at the time of the read.
class IniReader {
 public:
  IniReader(IFileSystem& files, const Configuration& config) : files_(files), config_(config) {}

  // *expandedLength receives the length of the fully expanded text; the result never exceeds
  // bufferSize - 1 characters.
  std::string ReadIniValue(const std::string& section, const std::optional<std::string>& key,
                           const std::string& defaultValue, std::size_t bufferSize,
                           std::size_t* expandedLength = nullptr) const;
  // The macros of INI values replaced in a text, as they stand now.
  std::string ExpandMacros(std::string text) const;

 private:
  IFileSystem& files_;
  const Configuration& config_;
};

// The Windows service of a component. Grid (in any case) with the INI file beside the executable
// is "KeldranGridAgent321", started as "<exe> /Service"; every other component is
// "KeldranGridAgent321$<component>", and it and Grid with an INI file of its own (ownIniFile: the
// at-sign form names another file than the one beside the executable) are started with
// "<component>@<INI file>" so that their runs read the right file.
struct ServiceIdentity {
  std::string name;
  std::string displayName;
  std::string imagePath;
  // The image path names the component in the at-sign form, so the service's runs report under
  // the at-sign form's own event source.
  bool namesComponent = false;
};
// quotedExePath: the executable's path as it stands in a command line.
ServiceIdentity ServiceIdentityFor(const std::string& component, bool ownIniFile,
                                   const std::string& quotedExePath, const std::string& iniFile);

// The Logon value, "account;password". The built-in LocalService and NetworkService (with or
// without "NT AUTHORITY\", stored as "NT AUTHORITY\<name>"), a virtual account
// "NT SERVICE\<name>" and a group managed service account ("<name>$") need no password, and one
// given for them is dropped; any other account needs one and gets ".\" when it names no domain.
// False when an account lacks its password (or the password its account).
[[nodiscard]] bool ParseLogon(const std::string& text, std::string* account, std::string* password);

// The Recovery value: restart delays in seconds, comma-separated, each 1 to 86400, at most 8;
// "0" alone turns recovery off (an empty list). Blanks around the numbers are allowed. nullopt
// with *why set when the value is none of these.
std::optional<std::vector<std::uint32_t>> ParseRecovery(const std::string& text, std::string* why);
constexpr const char* kDefaultRecovery = "5,30,60";
constexpr std::size_t kMaxRecoveryDelays = 8;
constexpr std::uint32_t kMaxRecoveryDelaySeconds = 86400;

// A configuration that cannot be used: the event that says so and its insertion string.
struct ConfigRefusal {
  std::uint32_t eventId = 0;
  std::optional<std::string> insert;
};

// What a load of the configuration found. The configuration holds what was read up to a
// refusal, so that the refusal can be reported where the file says the log goes.
struct ConfigLoad {
  Configuration config;
  std::string eventSource;  // empty until the INI file is found
  std::optional<ConfigRefusal> refusal;
};

// Reads the configuration of the component named on the command line ("name" or
// "name@file.ini") over the program paths already set in programPaths, and applies the command
// line's settings over it; it reads files and touches nothing else. With problems given, a value
// that only registration or the client's start uses and that leaves the rest readable
// (Recovery, Priority, Affinity, StopExitCodes) is listed there as "Key: why" instead of
// refusing the load, for /Check.
ConfigLoad ReadServiceConfig(IFileSystem& files, const Configuration& programPaths,
                             const std::string& component,
                             const std::vector<CommandLineSetting>& settings,
                             std::vector<std::string>* problems = nullptr);

// Reads the configuration into *config (whose program paths are already set), tells the log its
// event source, folder, retention and trace setting, and reports a refusal as an event of the
// given category, giving false.
[[nodiscard]] bool LoadServiceConfig(IFileSystem& files, ComponentLog& events,
                                     std::uint16_t eventCategory, const std::string& component,
                                     const std::vector<CommandLineSetting>& settings,
                                     Configuration* config,
                                     std::vector<std::string>* problems = nullptr);

}  // namespace keldran
