#include "platform/fake/fake_shell.h"

namespace keldran::fake {
namespace {

constexpr HResult kPathNotFound = HResultFromWin32(win32_error::kPathNotFound);
constexpr HResult kFileNotFound = HResultFromWin32(win32_error::kFileNotFound);

const std::map<std::string, std::string>& Folders() {
  static const std::map<std::string, std::string> folders = {
      {"allusersprograms", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"allusersstartup", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
  };
  return folders;
}

}  // namespace

FakeShell::FakeShell(FaultPlan& faults, FakeSystemTexts& texts, FakeFileSystem& files)
    : FakeArea(faults, texts), files_(files) {
  for (const auto& [_, path] : Folders()) files_.AddDirectory(path);
}

HResult FakeShell::SpecialFolder(const std::string& name, std::string* path) {
  auto it = Folders().find(FoldCase(name));
  *path = it == Folders().end() ? std::string() : it->second;
  return kSOk;
}

HResult FakeShell::SaveShortcut(const ShortcutDefinition& shortcut) {
  if (auto hr = InjectedHResult("IPersistFile::Save")) return *hr;
  FileHandle file;
  if (Win32Error e =
          files_.CreateFile(shortcut.path, file_access::kGenericWrite, 0,
                            file_creation::kCreateAlways, file_attribute::kNormal, &file)) {
    return HResultFromWin32(e);
  }
  files_.CloseFile(file);
  std::lock_guard lock(mutex_);
  shortcuts_[FoldCase(shortcut.path)] = shortcut;
  return kSOk;
}

HResult FakeShell::ReadShortcut(const std::string& path, ShortcutDefinition* shortcut) {
  std::lock_guard lock(mutex_);
  auto it = shortcuts_.find(FoldCase(path));
  if (it == shortcuts_.end() || !files_.Exists(path)) return kFileNotFound;
  *shortcut = it->second;
  return kSOk;
}

HResult FakeShell::DeleteFile(const std::string& path) {
  if (!FileExists(path)) return kFileNotFound;
  files_.RemoveTree(path);
  return kSOk;
}

HResult FakeShell::CreateFolder(const std::string& path) {
  if (files_.Exists(path)) return HResultFromWin32(win32_error::kAlreadyExists);
  if (Win32Error e = files_.CreateDirectory(path)) return HResultFromWin32(e);
  return kSOk;
}

HResult FakeShell::DeleteFolder(const std::string& path) {
  if (auto hr = InjectedHResult("FileSystemObject::DeleteFolder")) return *hr;
  if (!FolderExists(path)) return kPathNotFound;
  files_.RemoveTree(path);
  return kSOk;
}

HResult FakeShell::FolderCounts(const std::string& path, std::uint32_t* fileCount,
                                std::uint32_t* folderCount) {
  if (!FolderExists(path)) return kPathNotFound;
  *fileCount = 0;
  *folderCount = 0;
  for (const auto& entry : files_.List(path))
    ++*(files_.IsDirectory(entry) ? folderCount : fileCount);
  return kSOk;
}

}  // namespace keldran::fake
