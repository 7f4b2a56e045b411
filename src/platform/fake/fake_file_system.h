#pragma once
// An in-memory file system with Windows paths and CreateFile's sharing rules (files_contract_test).
// INI files and the shell's path functions are left to Wine's real ones.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake_support.h"
#include "platform/files.h"

namespace keldran::fake {

class FakeFileSystem final : public IFileSystem, private FakeArea {
 public:
  FakeFileSystem(FaultPlan& faults, FakeSystemTexts& texts);
  ~FakeFileSystem() override;

  Win32Error CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                        std::uint32_t creation, std::uint32_t flagsAndAttributes,
                        FileHandle* file) override;
  Win32Error SetFilePointer(FileHandle file, std::int64_t distance, std::uint32_t method) override;
  Win32Error WriteFile(FileHandle file, const void* data, std::uint32_t size,
                       std::uint32_t* written) override;
  Win32Error ReadFile(FileHandle file, void* data, std::uint32_t size,
                      std::uint32_t* read) override;
  Win32Error FlushFileBuffers(FileHandle file) override;
  Win32Error GetFileSize(FileHandle file, std::uint64_t* size) override;
  void CloseFile(FileHandle file) override;
  Win32Error CopyFile(const std::string& source, const std::string& target,
                      bool failIfExists) override;
  Win32Error MoveFileReplacing(const std::string& source, const std::string& target) override;
  Win32Error DeleteFile(const WideString& path) override;
  Win32Error CreateDirectory(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& directory) override;
  std::uint32_t GetFileAttributes(const std::string& path, Win32Error* error = nullptr) override;
  Win32Error SetFileAttributes(const std::string& path, std::uint32_t attributes) override;
  bool PathFileExists(const std::string& path) override { return Exists(path); }
  std::string WindowsDirectory() override { return "C:\\windows"; }
  std::string TempDirectory() override { return "C:\\temp\\"; }
  std::string LongPathName(const std::string& path) override { return path; }
  std::uint32_t GetProfileString(const std::string&, const std::optional<std::string>&,
                                 const std::optional<std::string>&, const std::string&,
                                 std::uint32_t, std::string*) override {
    NotModelled("GetPrivateProfileString");
  }
  std::uint32_t GetProfileInt(const std::string&, const std::string&, const std::string&,
                              std::int32_t) override {
    NotModelled("GetPrivateProfileInt");
  }
  std::uint32_t GetProfileSection(const std::string&, const std::string&, std::uint32_t,
                                  std::string*) override {
    NotModelled("GetPrivateProfileSection");
  }
  Win32Error WriteProfileString(const std::string&, const std::string&, const std::string&,
                                const std::string&) override {
    NotModelled("WritePrivateProfileString");
  }
  std::optional<std::string> PathCanonicalize(const std::string&) override {
    NotModelled("PathCanonicalize");
  }
  std::optional<std::string> PathCombine(const std::string&, const std::string&) override {
    NotModelled("PathCombine");
  }
  std::string PathQuoteSpaces(const std::string&) override { NotModelled("PathQuoteSpaces"); }
  std::string PathUnquoteSpaces(const std::string&) override { NotModelled("PathUnquoteSpaces"); }
  std::string PathRemoveArgs(const std::string&) override { NotModelled("PathRemoveArgs"); }
  std::string PathRemoveFileSpec(const std::string&) override { NotModelled("PathRemoveFileSpec"); }
  std::size_t PathFindFileName(const std::string&) override { NotModelled("PathFindFileName"); }
  std::size_t PathFindExtension(const std::string&) override { NotModelled("PathFindExtension"); }

  // Test helpers.
  void AddDirectory(const std::string& path);  // with its parents
  void AddFile(const std::string& path, const std::string& content,
               std::uint32_t attributes = file_attribute::kArchive);
  std::optional<std::string> FileContent(const std::string& path) const;
  bool Exists(const std::string& path) const;
  bool IsDirectory(const std::string& path) const;
  std::vector<std::string> List(const std::string& directory) const;
  void RemoveTree(const std::string& path);
  std::size_t OpenHandleCount() const;

  struct OpenRecord {
    std::string path;
    std::uint32_t access, share, creation, flags;
  };
  // Every CreateFile call, successful or not.
  std::vector<OpenRecord> Opens() const { return Locked(mutex_, opens_); }

 private:
  struct Node;
  struct OpenFile;
  std::string Key(const std::string& path) const;
  std::shared_ptr<Node> Lookup(const std::string& path) const;
  std::string ParentKey(const std::string& key) const;
  Win32Error MissingError(const std::string& key) const;
  bool SharingConflict(const Node& node, std::uint32_t access, std::uint32_t share) const;
  std::shared_ptr<OpenFile> Opened(FileHandle file) const;

  mutable std::recursive_mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> nodes_;  // by canonical, folded path
  std::map<std::uintptr_t, std::shared_ptr<OpenFile>> open_;
  std::vector<OpenRecord> opens_;
};

}  // namespace keldran::fake
