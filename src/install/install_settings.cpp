#include "install/install_settings.h"

namespace keldran {

std::vector<IniSetting> SettingsToWrite(const std::vector<IniSetting>& given, bool iniIsNew,
                                        bool replace) {
  std::vector<IniSetting> out;
  if (!iniIsNew && !replace) return out;
  for (const IniSetting& setting : given) {
    if (!setting.value.empty()) out.push_back(setting);
  }
  return out;
}

std::string ProfileText(const std::string& value) {
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return quoted ? "\"" + value + "\"" : value;
}

bool StartsAfterCommit(std::int32_t autoStart, bool stoppedByCommit, bool upgrade,
                       bool stoppedByRemoval) {
  return autoStart != 0 || stoppedByCommit || (upgrade && stoppedByRemoval);
}

IniSettingsEdit::~IniSettingsEdit() {
  try {
    Undo();
  } catch (...) {
    // The commit's result stands; a file left as written is all that can go wrong here.
  }
}

Win32Error IniSettingsEdit::Apply(const std::string& file, bool fileIsNew,
                                  const std::vector<IniSetting>& values) {
  if (values.empty()) return 0;
  file_ = file;
  fileIsNew_ = fileIsNew;
  if (!fileIsNew) {
    if (Win32Error e = platform_.files.CopyFile(file, Backup(), false)) {
      file_.clear();
      return e;
    }
  }
  for (const IniSetting& setting : values) {
    if (Win32Error e = platform_.files.WriteProfileString(file, names::kIniSection, setting.key,
                                                          ProfileText(setting.value))) {
      return e;
    }
  }
  return 0;
}

void IniSettingsEdit::Keep() {
  if (!file_.empty() && !fileIsNew_) Delete(Backup());
  file_.clear();
}

void IniSettingsEdit::Undo() {
  if (file_.empty()) return;
  if (fileIsNew_) {
    Delete(file_);
  } else if (platform_.files.CopyFile(Backup(), file_, false) == 0) {
    Delete(Backup());
  }
  file_.clear();
}

void IniSettingsEdit::Delete(const std::string& path) {
  (void)platform_.files.DeleteFile(platform_.texts.AnsiToWide(path));
}

}  // namespace keldran
