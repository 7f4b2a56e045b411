// IFileSystem: files, attributes, profile (INI) reading and the shell's path functions.
#include <algorithm>

#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

HANDLE File(FileHandle file) { return FromSeam<HANDLE>(file); }

const char* NullOr(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

// The in-place path calls work on a MAX_PATH buffer; a longer path is beyond them and comes
// back as it was.
template <class Edit>
std::string EditPath(const std::string& path, Edit edit) {
  if (path.size() >= MAX_PATH) return path;
  char buffer[MAX_PATH];
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = '\0';
  edit(buffer);
  return buffer;
}

class FileSystem final : public IFileSystem {
 public:
  Win32Error CreateFile(const std::string& path, std::uint32_t access, std::uint32_t share,
                        std::uint32_t creation, std::uint32_t flagsAndAttributes,
                        FileHandle* file) override {
    HANDLE h =
        ::CreateFileA(path.c_str(), access, share, nullptr, creation, flagsAndAttributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    *file = ToSeam<FileHandle>(h);
    return 0;
  }

  Win32Error SetFilePointer(FileHandle file, std::int64_t distance, std::uint32_t method) override {
    LARGE_INTEGER move{};
    move.QuadPart = distance;
    return ::SetFilePointerEx(File(file), move, nullptr, method) ? 0 : ::GetLastError();
  }

  Win32Error WriteFile(FileHandle file, const void* data, std::uint32_t size,
                       std::uint32_t* written) override {
    DWORD n = 0;
    BOOL ok = ::WriteFile(File(file), data, size, &n, nullptr);
    Win32Error e = ok ? 0 : ::GetLastError();
    if (written) *written = n;
    return e;
  }

  Win32Error ReadFile(FileHandle file, void* data, std::uint32_t size,
                      std::uint32_t* read) override {
    DWORD n = 0;
    BOOL ok = ::ReadFile(File(file), data, size, &n, nullptr);
    Win32Error e = ok ? 0 : ::GetLastError();
    if (read) *read = n;
    return e;
  }

  Win32Error FlushFileBuffers(FileHandle file) override {
    return ::FlushFileBuffers(File(file)) ? 0 : ::GetLastError();
  }

  Win32Error GetFileSize(FileHandle file, std::uint64_t* size) override {
    LARGE_INTEGER n{};
    if (!::GetFileSizeEx(File(file), &n)) return ::GetLastError();
    *size = static_cast<std::uint64_t>(n.QuadPart);
    return 0;
  }

  void CloseFile(FileHandle file) override { UniqueFile(File(file)).reset(); }

  Win32Error CopyFile(const std::string& source, const std::string& target,
                      bool failIfExists) override {
    return ::CopyFileA(source.c_str(), target.c_str(), failIfExists) ? 0 : ::GetLastError();
  }

  Win32Error MoveFileReplacing(const std::string& source, const std::string& target) override {
    return ::MoveFileExA(source.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : ::GetLastError();
  }

  Win32Error DeleteFile(const WideString& path) override {
    return ::DeleteFileW(reinterpret_cast<const wchar_t*>(path.c_str())) ? 0 : ::GetLastError();
  }

  Win32Error CreateDirectory(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), nullptr) ? 0 : ::GetLastError();
  }

  std::vector<std::string> ListFiles(const std::string& directory) override {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    UniqueFind find(::FindFirstFileA((directory + "\\*").c_str(), &found));
    if (!find) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (::FindNextFileA(find.get(), &found));
    return names;
  }

  std::uint32_t GetFileAttributes(const std::string& path, Win32Error* error) override {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (error) *error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0;
    return attributes;
  }

  Win32Error SetFileAttributes(const std::string& path, std::uint32_t attributes) override {
    return ::SetFileAttributesA(path.c_str(), attributes) ? 0 : ::GetLastError();
  }

  bool PathFileExists(const std::string& path) override {
    return ::PathFileExistsA(path.c_str()) != FALSE;
  }

  std::string WindowsDirectory() override {
    char buffer[MAX_PATH];
    UINT n = ::GetWindowsDirectoryA(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(buffer, n) : std::string();
  }

  std::string TempDirectory() override {
    char buffer[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof buffer, buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
  }

  std::string LongPathName(const std::string& path) override {
    DWORD n = ::GetLongPathNameA(path.c_str(), nullptr, 0);
    if (n == 0) return path;
    std::vector<char> buffer(n);
    n = ::GetLongPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return path;
    return std::string(buffer.data(), n);
  }

  std::uint32_t GetProfileString(const std::string& file, const std::optional<std::string>& section,
                                 const std::optional<std::string>& key,
                                 const std::string& defaultValue, std::uint32_t bufferSize,
                                 std::string* out) override {
    std::vector<char> buffer(std::max<std::uint32_t>(bufferSize, 1), '\0');
    DWORD n = ::GetPrivateProfileStringA(NullOr(section), NullOr(key), defaultValue.c_str(),
                                         buffer.data(), bufferSize, file.c_str());
    out->assign(buffer.data(), std::min<std::size_t>(n, buffer.size()));
    return n;
  }

  std::uint32_t GetProfileInt(const std::string& file, const std::string& section,
                              const std::string& key, std::int32_t defaultValue) override {
    return ::GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, file.c_str());
  }

  std::uint32_t GetProfileSection(const std::string& file, const std::string& section,
                                  std::uint32_t bufferSize, std::string* out) override {
    std::vector<char> buffer(std::max<std::uint32_t>(bufferSize, 1), '\0');
    DWORD n = ::GetPrivateProfileSectionA(section.c_str(), buffer.data(), bufferSize, file.c_str());
    out->assign(buffer.data(), std::min<std::size_t>(n, buffer.size()));
    return n;
  }

  Win32Error WriteProfileString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& value) override {
    return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str())
               ? 0
               : ::GetLastError();
  }

  std::optional<std::string> PathCanonicalize(const std::string& path) override {
    char buffer[MAX_PATH] = {};
    if (path.size() >= MAX_PATH || !::PathCanonicalizeA(buffer, path.c_str())) return std::nullopt;
    return std::string(buffer);
  }

  std::optional<std::string> PathCombine(const std::string& directory,
                                         const std::string& file) override {
    char buffer[MAX_PATH] = {};
    if (!::PathCombineA(buffer, directory.c_str(), file.c_str())) return std::nullopt;
    return std::string(buffer);
  }

  std::string PathQuoteSpaces(const std::string& path) override {
    return EditPath(path, [](char* p) { ::PathQuoteSpacesA(p); });
  }
  std::string PathUnquoteSpaces(const std::string& path) override {
    return EditPath(path, [](char* p) { ::PathUnquoteSpacesA(p); });
  }
  std::string PathRemoveArgs(const std::string& path) override {
    return EditPath(path, [](char* p) { ::PathRemoveArgsA(p); });
  }
  std::string PathRemoveFileSpec(const std::string& path) override {
    return EditPath(path, [](char* p) { ::PathRemoveFileSpecA(p); });
  }

  std::size_t PathFindFileName(const std::string& path) override {
    return static_cast<std::size_t>(::PathFindFileNameA(path.c_str()) - path.c_str());
  }
  std::size_t PathFindExtension(const std::string& path) override {
    return static_cast<std::size_t>(::PathFindExtensionA(path.c_str()) - path.c_str());
  }
};

}  // namespace

std::unique_ptr<IFileSystem> MakeFileSystem() { return std::make_unique<FileSystem>(); }

}  // namespace keldran::win32
