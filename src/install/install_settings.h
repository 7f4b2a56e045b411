#pragma once
// The installer's values for the working INI file (/Set:Key=value on the commit step's command
// line), the commit's copy of that file until it is sure of them, and whether the service runs
// again once an installation is committed.

#include <cstdint>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "platform/platform.h"

namespace keldran {

// The values the commit writes: into a working file that it has just made from the example
// always; into one that was there before only when the installer asks to replace its values. An
// empty value leaves the file's own.
std::vector<IniSetting> SettingsToWrite(const std::vector<IniSetting>& given, bool iniIsNew,
                                        bool replace);

// The text to write for a value so that the profile functions read it back as it is: they drop
// the quotes around a value that begins and ends with the same quote character, and a client's
// command line may well be one quoted path.
std::string ProfileText(const std::string& value);

// Whether the commit starts the service: it starts automatically, or it ran before the
// installation began, stopped by this commit itself or by the removal step of the package that
// an upgrade replaces.
bool StartsAfterCommit(std::int32_t autoStart, bool stoppedByCommit, bool upgrade,
                       bool stoppedByRemoval);

// The commit's changes to the working INI file. Until Keep, the file's earlier content is kept
// beside it, and the destructor puts it back (a file that the commit made is removed), so that a
// commit that fails before its values are known to be good leaves the file as it found it.
class IniSettingsEdit {
 public:
  explicit IniSettingsEdit(Platform& platform) : platform_(platform) {}
  ~IniSettingsEdit();
  IniSettingsEdit(const IniSettingsEdit&) = delete;
  IniSettingsEdit& operator=(const IniSettingsEdit&) = delete;

  // Writes the values into the [Service] section of the file, which the commit has made just now
  // when fileIsNew. Nothing to write changes nothing.
  [[nodiscard]] Win32Error Apply(const std::string& file, bool fileIsNew,
                                 const std::vector<IniSetting>& values);
  // The values stand.
  void Keep();

 private:
  void Undo();
  std::string Backup() const { return file_ + ".before-commit"; }
  void Delete(const std::string& path);

  Platform& platform_;
  std::string file_;  // empty: nothing to undo
  bool fileIsNew_ = false;
};

}  // namespace keldran
