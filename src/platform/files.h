#pragma once
// Files, file attributes, profile (INI) reading and writing, and the shell's path functions.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/scoped.h"
#include "platform/types.h"

namespace keldran {

struct FileHandleTag;
using FileHandle = Handle<FileHandleTag>;

namespace file_access {
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
}  // namespace file_access

namespace file_share {
constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kRead = 1;
constexpr std::uint32_t kWrite = 2;
constexpr std::uint32_t kDelete = 4;
}  // namespace file_share

namespace file_creation {
constexpr std::uint32_t kCreateNew = 1;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kOpenAlways = 4;
constexpr std::uint32_t kTruncateExisting = 5;
}  // namespace file_creation

namespace file_attribute {
constexpr std::uint32_t kReadOnly = 0x1;
constexpr std::uint32_t kHidden = 0x2;
constexpr std::uint32_t kDirectory = 0x10;
constexpr std::uint32_t kArchive = 0x20;
constexpr std::uint32_t kNormal = 0x80;
constexpr std::uint32_t kNotContentIndexed = 0x2000;
constexpr std::uint32_t kInvalid = 0xFFFFFFFFu;
}  // namespace file_attribute

namespace file_flag {
constexpr std::uint32_t kWriteThrough = 0x80000000u;
}  // namespace file_flag

namespace file_move {
constexpr std::uint32_t kBegin = 0;
constexpr std::uint32_t kCurrent = 1;
constexpr std::uint32_t kEnd = 2;
}  // namespace file_move

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  // CreateFileA with no security attributes and no template.
  [[nodiscard]] virtual Win32Error CreateFile(const std::string& path, std::uint32_t access,
                                              std::uint32_t share, std::uint32_t creation,
                                              std::uint32_t flagsAndAttributes,
                                              FileHandle* file) = 0;
  [[nodiscard]] virtual Win32Error SetFilePointer(FileHandle file, std::int64_t distance,
                                                  std::uint32_t method) = 0;
  [[nodiscard]] virtual Win32Error WriteFile(FileHandle file, const void* data, std::uint32_t size,
                                             std::uint32_t* written) = 0;
  [[nodiscard]] virtual Win32Error ReadFile(FileHandle file, void* data, std::uint32_t size,
                                            std::uint32_t* read) = 0;
  [[nodiscard]] virtual Win32Error FlushFileBuffers(FileHandle file) = 0;
  [[nodiscard]] virtual Win32Error GetFileSize(FileHandle file, std::uint64_t* size) = 0;
  virtual void CloseFile(FileHandle file) = 0;

  [[nodiscard]] virtual Win32Error CopyFile(const std::string& source, const std::string& target,
                                            bool failIfExists) = 0;
  // MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: the target, if there,
  // is replaced in one step, so that a reader sees the old file or the new one, never a part.
  [[nodiscard]] virtual Win32Error MoveFileReplacing(const std::string& source,
                                                     const std::string& target) = 0;
  [[nodiscard]] virtual Win32Error DeleteFile(const WideString& path) = 0;
  [[nodiscard]] virtual Win32Error CreateDirectory(const std::string& path) = 0;
  // FindFirstFileA/FindNextFileA: the names of the files (not folders) directly in a folder.
  virtual std::vector<std::string> ListFiles(const std::string& directory) = 0;
  // kInvalid when the file cannot be queried (the error is then in *error when given).
  virtual std::uint32_t GetFileAttributes(const std::string& path, Win32Error* error = nullptr) = 0;
  [[nodiscard]] virtual Win32Error SetFileAttributes(const std::string& path,
                                                     std::uint32_t attributes) = 0;
  // PathFileExistsA: a file or a directory.
  virtual bool PathFileExists(const std::string& path) = 0;
  virtual std::string WindowsDirectory() = 0;
  virtual std::string TempDirectory() = 0;
  // GetLongPathNameA; the path unchanged when it cannot be expanded.
  virtual std::string LongPathName(const std::string& path) = 0;

  // GetPrivateProfileStringA with a buffer of bufferSize characters. With no key the result
  // holds the section's key names; with no section, the section names; each NUL-terminated and
  // the list ended by a second NUL. *out receives exactly the characters the call returned (the
  // count it returned), NULs included.
  virtual std::uint32_t GetProfileString(const std::string& file,
                                         const std::optional<std::string>& section,
                                         const std::optional<std::string>& key,
                                         const std::string& defaultValue, std::uint32_t bufferSize,
                                         std::string* out) = 0;
  virtual std::uint32_t GetProfileInt(const std::string& file, const std::string& section,
                                      const std::string& key, std::int32_t defaultValue) = 0;
  // GetPrivateProfileSectionA: "key=value" lines, each NUL-terminated, as above.
  virtual std::uint32_t GetProfileSection(const std::string& file, const std::string& section,
                                          std::uint32_t bufferSize, std::string* out) = 0;
  // WritePrivateProfileStringA: sets the key's value (adding the key, the section or the file
  // when missing), leaving every other line as it was.
  [[nodiscard]] virtual Win32Error WriteProfileString(const std::string& file,
                                                      const std::string& section,
                                                      const std::string& key,
                                                      const std::string& value) = 0;

  // The shell's path functions (shlwapi), with their MAX_PATH limits.
  virtual std::optional<std::string> PathCanonicalize(const std::string& path) = 0;
  virtual std::optional<std::string> PathCombine(const std::string& directory,
                                                 const std::string& file) = 0;
  virtual std::string PathQuoteSpaces(const std::string& path) = 0;
  virtual std::string PathUnquoteSpaces(const std::string& path) = 0;
  virtual std::string PathRemoveArgs(const std::string& path) = 0;
  virtual std::string PathRemoveFileSpec(const std::string& path) = 0;
  // Offset of the file name part (PathFindFileNameA).
  virtual std::size_t PathFindFileName(const std::string& path) = 0;
  // Offset of the extension's dot, or the length when there is none (PathFindExtensionA).
  virtual std::size_t PathFindExtension(const std::string& path) = 0;
};

using ScopedFile = Scoped<IFileSystem, FileHandle, &IFileSystem::CloseFile>;

}  // namespace keldran
