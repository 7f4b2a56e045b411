#pragma once
// A whole host on the real platform, for Windows tests: the Win32 backend and the host assembled
// on it as the entry point assembles it, with scratch directories and registry keys that are
// removed again at the end. Windows-free itself, so tests that use it stay so.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/host.h"

namespace keldran::testing {

class Win32Host {
 public:
  Win32Host();
  ~Win32Host();
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  Platform& platform();
  Host& host();
  Log& log() { return host().log; }
  Process& client() { return host().supervisor.client(); }

  // A new, empty directory under the temporary directory, with a trailing backslash; removed with
  // its contents at the end.
  std::string ScratchDirectory();
  // A key path under HKEY_CURRENT_USER that does not exist yet; removed with its subtree at the
  // end.
  std::string ScratchRegistryPath();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

// Creates a key under HKEY_CURRENT_USER by its UTF-16 path (RegCreateKeyExW), for names that
// the ANSI code page cannot spell; false on failure.
bool CreateWideKey(const WideString& path);

// The number of handles this process holds, as GetProcessHandleCount reports it (Wine 8 reports
// 0), and as counted by asking for each possible handle value up to 0x10000 (which Wine answers).
std::uint32_t ProcessHandleCount();
std::uint32_t ProbedHandleCount();

// Keeps a process object alive by its id, so that its exit code can be read after every other
// handle to it is closed.
class ProcessWatch {
 public:
  explicit ProcessWatch(std::uint32_t processId);
  ~ProcessWatch();
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  bool valid() const;
  // Waits up to the time given for the process to end; its exit code then, else none.
  std::optional<std::uint32_t> ExitCode(std::uint32_t waitMilliseconds);

 private:
  std::uintptr_t handle_ = 0;
};

}  // namespace keldran::testing
