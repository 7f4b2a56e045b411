#pragma once
// One INI file, whatever its name, holding the [Service] keys given (names folded); no file opens.
// For the configuration loader's tests and fuzzing.

#include <cstdlib>
#include <map>
#include <string>

#include "platform/fake/fake_support.h"
#include "platform/files.h"

namespace keldran::fake {

class ProfileFiles final : public IFileSystem {
 public:
  explicit ProfileFiles(const std::map<std::string, std::string>& keys) : keys_(keys) {}

  Win32Error CreateFile(const std::string&, std::uint32_t, std::uint32_t, std::uint32_t,
                        std::uint32_t, FileHandle*) override {
    return win32_error::kPathNotFound;
  }
  // No file opens, so no handle reaches these.
  Win32Error SetFilePointer(FileHandle, std::int64_t, std::uint32_t) override { NoFile(); }
  Win32Error WriteFile(FileHandle, const void*, std::uint32_t, std::uint32_t*) override {
    NoFile();
  }
  Win32Error ReadFile(FileHandle, void*, std::uint32_t, std::uint32_t*) override { NoFile(); }
  Win32Error FlushFileBuffers(FileHandle) override { NoFile(); }
  Win32Error GetFileSize(FileHandle, std::uint64_t*) override { NoFile(); }
  void CloseFile(FileHandle) override {}
  Win32Error CopyFile(const std::string&, const std::string&, bool) override { return kMissing; }
  Win32Error MoveFileReplacing(const std::string&, const std::string&) override { return kMissing; }
  Win32Error DeleteFile(const WideString&) override { return kMissing; }
  Win32Error CreateDirectory(const std::string&) override { return kMissing; }
  std::vector<std::string> ListFiles(const std::string&) override { return {}; }
  std::uint32_t GetFileAttributes(const std::string&, Win32Error*) override {
    return file_attribute::kInvalid;
  }
  Win32Error SetFileAttributes(const std::string&, std::uint32_t) override { return kMissing; }
  bool PathFileExists(const std::string& path) override {
    return path.size() < kMaxPath && path.size() >= 4 &&
           FoldCase(path.substr(path.size() - 4)) == ".ini";
  }
  std::string WindowsDirectory() override { return "C:\\windows"; }
  std::string TempDirectory() override { return "C:\\windows\\temp\\"; }
  std::string LongPathName(const std::string& path) override { return path; }

  std::uint32_t GetProfileString(const std::string&, const std::optional<std::string>& section,
                                 const std::optional<std::string>& key,
                                 const std::string& defaultValue, std::uint32_t bufferSize,
                                 std::string* out) override {
    const std::string* value = section && key ? Find(*section, *key) : nullptr;
    *out = (value ? *value : defaultValue).substr(0, bufferSize > 0 ? bufferSize - 1 : 0);
    return static_cast<std::uint32_t>(out->size());
  }
  std::uint32_t GetProfileInt(const std::string&, const std::string& section,
                              const std::string& key, std::int32_t defaultValue) override {
    const std::string* value = Find(section, key);
    return static_cast<std::uint32_t>(value ? std::strtol(value->c_str(), nullptr, 10)
                                            : defaultValue);
  }
  std::uint32_t GetProfileSection(const std::string&, const std::string&, std::uint32_t,
                                  std::string* out) override {
    out->clear();
    return 0;
  }
  Win32Error WriteProfileString(const std::string&, const std::string&, const std::string&,
                                const std::string&) override {
    return kMissing;
  }

  std::optional<std::string> PathCanonicalize(const std::string& path) override {
    if (path.size() >= kMaxPath) return std::nullopt;
    return path;
  }
  std::optional<std::string> PathCombine(const std::string& directory,
                                         const std::string& file) override {
    const bool absolute = (file.size() > 1 && file[1] == ':') || file.starts_with('\\');
    return PathCanonicalize(absolute ? file : directory + file);
  }
  std::string PathQuoteSpaces(const std::string& path) override {
    return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
  }
  std::string PathUnquoteSpaces(const std::string& path) override {
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
      return path.substr(1, path.size() - 2);
    return path;
  }
  std::string PathRemoveArgs(const std::string& path) override {
    bool quoted = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (path[i] == '"') quoted = !quoted;
      if (path[i] == ' ' && !quoted) return path.substr(0, i);
    }
    return path;
  }
  std::string PathRemoveFileSpec(const std::string& path) override {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }
  std::size_t PathFindFileName(const std::string& path) override {
    const std::size_t at = path.find_last_of("\\/:");
    return at == std::string::npos ? 0 : at + 1;
  }
  std::size_t PathFindExtension(const std::string&) override { NotModelled("PathFindExtension"); }

 private:
  static constexpr std::size_t kMaxPath = 260;
  static constexpr Win32Error kMissing = win32_error::kPathNotFound;
  [[noreturn]] static void NoFile() { NotModelled("a file handle"); }
  const std::string* Find(const std::string& section, const std::string& key) const {
    auto it = keys_.find(FoldCase(key));
    return FoldCase(section) == "service" && it != keys_.end() ? &it->second : nullptr;
  }
  const std::map<std::string, std::string>& keys_;
};

}  // namespace keldran::fake
