#pragma once
// Special folders and shortcuts on top of the fake file system: a saved shortcut is a file whose
// properties the fake keeps for ReadShortcut.

#include <map>
#include <mutex>
#include <string>

#include "platform/fake/fake_file_system.h"
#include "platform/fake/fake_support.h"
#include "platform/shell.h"

namespace keldran::fake {

class FakeShell final : public IShell, private FakeArea {
 public:
  FakeShell(FaultPlan& faults, FakeSystemTexts& texts, FakeFileSystem& files);

  HResult SpecialFolder(const std::string& name, std::string* path) override;
  HResult SaveShortcut(const ShortcutDefinition& shortcut) override;
  HResult ReadShortcut(const std::string& path, ShortcutDefinition* shortcut) override;
  bool FileExists(const std::string& path) override {
    return files_.Exists(path) && !files_.IsDirectory(path);
  }
  HResult DeleteFile(const std::string& path) override;
  bool FolderExists(const std::string& path) override { return files_.IsDirectory(path); }
  HResult CreateFolder(const std::string& path) override;
  HResult DeleteFolder(const std::string& path) override;
  HResult FolderCounts(const std::string& path, std::uint32_t* files,
                       std::uint32_t* subFolders) override;

 private:
  FakeFileSystem& files_;
  mutable std::mutex mutex_;
  std::map<std::string, ShortcutDefinition> shortcuts_;
};

}  // namespace keldran::fake
