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

 private:
  IFileSystem& files_;
  const Configuration& config_;
};

// Fills *config (whose program paths are already set) for the component named on the command
// line ("name" or "name@file.ini"). A failure is reported as an event of the given category and
// gives false. The log learns its event source, folder and trace setting on the way.
[[nodiscard]] bool LoadServiceConfig(IFileSystem& files, ComponentLog& events,
                                     std::uint16_t eventCategory, const std::string& component,
                                     const std::vector<CommandLineSetting>& settings,
                                     Configuration* config);

}  // namespace keldran
