#include "common/files.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "common/handle.h"

namespace keldran::tools {
namespace {

class FindHandle {
 public:
  explicit FindHandle(HANDLE h) : h_(h) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (h_ != INVALID_HANDLE_VALUE) FindClose(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA entry;
  {
    FindHandle find(FindFirstFileA((dir + "\\*").c_str(), &entry));
    if (find.valid()) {
      do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(path);
        } else {
          SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(path.c_str());
        }
      } while (FindNextFileA(find.get(), &entry));
    }
  }
  SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(dir.c_str());
}

void CreateParents(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
}

}  // namespace

std::string ExeDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  std::string dir(path, n);
  size_t slash = dir.find_last_of("\\/");
  return slash == std::string::npos ? "." : dir.substr(0, slash);
}

std::string ProgramPath(const std::string& exeName) { return ExeDir() + "\\" + exeName; }

bool WriteWholeFile(const std::string& path, const std::string& content) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  DWORD written = 0;
  return WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                   nullptr) &&
         written == content.size();
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string content;
  char buffer[8192];
  DWORD got = 0;
  // Read to the end rather than to the reported size, which is 0 for files such as /proc's.
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    content.append(buffer, got);
  }
  return content;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, temp);
  if (n == 0 || n >= MAX_PATH) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    // A hyphen, so that every test that passes a scratch path on the host's command line
    // ("component@<path of an INI file>") shows that only a word's first "-" starts an option.
    std::snprintf(name, sizeof name, "keldran-test_%lu_%lu_%u",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long>(GetTickCount()), counter++);
    std::string candidate = std::string(temp, n) + name;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  if (!path_.empty()) RemoveTree(path_);
}

std::string ScratchDir::File(const std::string& name) const { return path_ + "\\" + name; }

bool ScratchDir::Write(const std::string& name, const std::string& content) const {
  if (path_.empty()) return false;
  const std::string path = File(name);
  CreateParents(path);
  return WriteWholeFile(path, content);
}

std::string ScratchDir::Read(const std::string& name) const {
  return ReadWholeFile(File(name)).value_or("");
}

}  // namespace keldran::tools
