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

// Fills *config (whose program paths are already set) for the component named on the command
// line ("name" or "name@file.ini"). A failure is reported as an event of the given category and
// gives false. The log learns its event source, folder and trace setting on the way. With
// problems given, a value that only registration uses and that leaves the rest readable
// (Recovery) is listed there as "Key: why" instead of failing the load, for /Check.
[[nodiscard]] bool LoadServiceConfig(IFileSystem& files, ComponentLog& events,
                                     std::uint16_t eventCategory, const std::string& component,
                                     const std::vector<CommandLineSetting>& settings,
                                     Configuration* config,
                                     std::vector<std::string>* problems = nullptr);

}  // namespace keldran
