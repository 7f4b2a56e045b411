#include "support_win32/win32_host.h"

#include <atomic>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::testing {
namespace {

unsigned NextScratchNumber() {
  static std::atomic<unsigned> counter{0};
  return ++counter;
}

std::string Unique() {
  return std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(NextScratchNumber());
}

// Removes a directory with everything in it (scratch directories hold plain files only, some of
// them read-only).
void RemoveTree(const std::string& directory) {
  WIN32_FIND_DATAA found;
  win32::UniqueFind find(::FindFirstFileA((directory + "*").c_str(), &found));
  if (find) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = directory + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path + "\\");
      } else {
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path.c_str());
      }
    } while (::FindNextFileA(find.get(), &found));
  }
  find.reset();
  ::RemoveDirectoryA(directory.c_str());
}

}  // namespace

struct Win32Host::Parts {
  win32::Win32Platform backend;
  Host host{backend.platform(), [](Host&) { return ObjectRef(); }};
  std::vector<std::string> directories;
  std::vector<std::string> keys;
};

Win32Host::Win32Host() : parts_(std::make_unique<Parts>()) {}

Win32Host::~Win32Host() {
  // The client first: a child still running would keep files in the scratch directories busy.
  Process& child = client();
  if (!child.HasEnded()) {
    child.Terminate(1460);
    (void)child.WaitForEnd(10000);
  }
  for (const std::string& key : parts_->keys) ::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  std::vector<std::string> directories = std::move(parts_->directories);
  parts_.reset();  // the log may still hold its day file until it goes
  for (const std::string& directory : directories) RemoveTree(directory);
}

Platform& Win32Host::platform() { return parts_->backend.platform(); }
Host& Win32Host::host() { return parts_->host; }

std::string Win32Host::ScratchDirectory() {
  char temp[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof temp, temp);
  const std::string path =
      std::string(temp, n < sizeof temp ? n : 0) + "keldran-supervision-" + Unique() + "\\";
  ::CreateDirectoryA(path.c_str(), nullptr);
  parts_->directories.push_back(path);
  return path;
}

std::string Win32Host::ScratchRegistryPath() {
  const std::string path = "Software\\KeldranSupervisionTest\\key_" + Unique();
  parts_->keys.push_back(path);
  return path;
}

bool CreateWideKey(const WideString& path) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, reinterpret_cast<const wchar_t*>(path.c_str()), 0,
                        nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  win32::UniqueRegKey(key).reset();
  return true;
}

std::uint32_t ProcessHandleCount() {
  DWORD count = 0;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &count)) return 0;
  return count;
}

std::uint32_t ProbedHandleCount() {
  std::uint32_t count = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

ProcessWatch::ProcessWatch(std::uint32_t processId)
    : handle_(reinterpret_cast<std::uintptr_t>(
          ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId))) {}

ProcessWatch::~ProcessWatch() {
  if (handle_) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool ProcessWatch::valid() const { return handle_ != 0; }

std::optional<std::uint32_t> ProcessWatch::ExitCode(std::uint32_t waitMilliseconds) {
  const HANDLE process = reinterpret_cast<HANDLE>(handle_);
  if (!process || ::WaitForSingleObject(process, waitMilliseconds) != WAIT_OBJECT_0)
    return std::nullopt;
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return std::nullopt;
  return code;
}

}  // namespace keldran::testing
