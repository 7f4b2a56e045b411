#pragma once
// An in-memory file system with Windows paths (case-insensitive, drive letters, "." and ".."),
// directories, attributes and the sharing rules of CreateFile: a file held open without write
// sharing cannot be opened for writing by anyone else, and so on.

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
  Win32Error DeleteFile(const WideString& path) override;
  Win32Error CreateDirectory(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& directory) override;
  std::uint32_t GetFileAttributes(const std::string& path, Win32Error* error = nullptr) override;
  Win32Error SetFileAttributes(const std::string& path, std::uint32_t attributes) override;
  bool PathFileExists(const std::string& path) override;
  std::string WindowsDirectory() override;
  std::string TempDirectory() override;
  std::string LongPathName(const std::string& path) override;
  std::uint32_t GetProfileString(const std::string& file, const std::optional<std::string>& section,
                                 const std::optional<std::string>& key,
                                 const std::string& defaultValue, std::uint32_t bufferSize,
                                 std::string* out) override;
  std::uint32_t GetProfileInt(const std::string& file, const std::string& section,
                              const std::string& key, std::int32_t defaultValue) override;
  std::uint32_t GetProfileSection(const std::string& file, const std::string& section,
                                  std::uint32_t bufferSize, std::string* out) override;
  std::optional<std::string> PathCanonicalize(const std::string& path) override;
  std::optional<std::string> PathCombine(const std::string& directory,
                                         const std::string& file) override;
  std::string PathQuoteSpaces(const std::string& path) override;
  std::string PathUnquoteSpaces(const std::string& path) override;
  std::string PathRemoveArgs(const std::string& path) override;
  std::string PathRemoveFileSpec(const std::string& path) override;
  std::size_t PathFindFileName(const std::string& path) override;
  std::size_t PathFindExtension(const std::string& path) override;

  // Test helpers.
  void AddDirectory(const std::string& path);  // with its parents
  void AddFile(const std::string& path, const std::string& content,
               std::uint32_t attributes = file_attribute::kArchive);
  std::optional<std::string> FileContent(const std::string& path) const;
  bool Exists(const std::string& path) const;
  bool IsDirectory(const std::string& path) const;
  // Full paths of the entries directly inside a directory.
  std::vector<std::string> List(const std::string& directory) const;
  void RemoveTree(const std::string& path);
  // The next WriteFile writes at most this many bytes (a short write), once.
  void LimitNextWrite(std::uint32_t bytes);
  std::size_t OpenHandleCount() const;

  struct OpenRecord {
    std::string path;
    std::uint32_t access, share, creation, flags;
  };
  // Every CreateFile call, successful or not.
  std::vector<OpenRecord> Opens() const;
  int FlushCount() const;

 private:
  struct Node;
  struct OpenFile;
  std::string Key(const std::string& path) const;
  std::shared_ptr<Node> Lookup(const std::string& path) const;
  std::string ParentKey(const std::string& key) const;
  Win32Error MissingError(const std::string& key) const;
  bool SharingConflict(const Node& node, std::uint32_t access, std::uint32_t share) const;
  std::optional<std::string> ReadText(const std::string& path) const;

  mutable std::recursive_mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> nodes_;  // by canonical, folded path
  std::map<std::uintptr_t, std::shared_ptr<OpenFile>> open_;
  std::uintptr_t nextHandle_ = 0x100;
  std::optional<std::uint32_t> writeLimit_;
  std::vector<OpenRecord> opens_;
  int flushes_ = 0;
};

}  // namespace keldran::fake
