#pragma once
// The shell's special folders, shortcut files and the folder operations around them.

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace keldran {

struct ShortcutDefinition {
  std::string path;  // the .lnk file
  std::string arguments;
  std::string description;
  std::string target;
  std::string iconLocation;  // empty: no icon setting
  int windowStyle = 1;
  std::string workingDirectory;
};

class IShell {
 public:
  virtual ~IShell() = default;
  // "AllUsersPrograms", "AllUsersStartup" and the other names of the special folders.
  virtual HResult SpecialFolder(const std::string& name, std::string* path) = 0;
  virtual HResult SaveShortcut(const ShortcutDefinition& shortcut) = 0;
  virtual HResult ReadShortcut(const std::string& path, ShortcutDefinition* shortcut) = 0;

  virtual bool FileExists(const std::string& path) = 0;
  virtual HResult DeleteFile(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  virtual HResult CreateFolder(const std::string& path) = 0;
  // Deletes a folder with everything in it.
  virtual HResult DeleteFolder(const std::string& path) = 0;
  // Counts of the folder's files and subfolders.
  virtual HResult FolderCounts(const std::string& path, std::uint32_t* files,
                               std::uint32_t* subFolders) = 0;
};

}  // namespace keldran
