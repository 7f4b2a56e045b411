#pragma once
// Process: one child process of the host — start it with a show state in a working directory,
// ask whether it has ended, wait for it, kill it — and the owner of the path macros %DIR% and
// %ROOTDIR% that every client command line and companion-file path passes through. The same
// class is the context of the companion-file operations of installer steps.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace keldran {

class Process {
 public:
  static constexpr std::size_t kPathBuffer = 260;

  explicit Process(Platform& platform);
  // A child that is still running is killed with exit code 1460; handles are closed.
  virtual ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts the command line (macros expanded) with the show state in BaseDir. On failure the
  // Win32 error goes to *error and LastResult holds it as an HRESULT.
  [[nodiscard]] bool Start(const std::string& commandLine, std::uint16_t showState,
                           Win32Error* error = nullptr,
                           const std::optional<std::string>& environment = std::nullopt);
  // True when there is no child or it has ended.
  bool HasEnded();
  // True when there is no child or the wait did not time out (a failed wait counts as ended).
  bool WaitForEnd(std::uint32_t milliseconds);
  void Terminate(std::uint32_t exitCode);
  void SetWorkingDir(const std::string& directory);
  std::string BaseDir();
  std::string RootDir();
  std::string ExpandFileMacros(const std::string& text);
  HResult LastResult() const { return lastResult_; }

  // The companion-file operations of installer steps (each false after setting LastResult).
  [[nodiscard]] bool RegisterCompanionDll(const std::string& path, bool doRegister);
  [[nodiscard]] bool PrepareIniFromTemplate(const std::string& path);
  [[nodiscard]] bool CopyIfMissing(const std::string& target, const std::string& source);
  [[nodiscard]] bool FileCanBeOpened(const std::string& path);

  // The child's identity, for tests and diagnostics.
  std::uint32_t processId() const { return info_.processId; }
  bool hasChild() const { return static_cast<bool>(info_.process); }

 protected:
  // LastResult from a Win32 error: a positive code becomes an HRESULT; anything that does not
  // read as a failure becomes E_FAIL.
  void SetLastResultFromError(Win32Error error);
  void SetLastResult(HResult result) { lastResult_ = result; }
  Platform& platform() { return platform_; }

 private:
  std::string ModuleDirectory();
  void CloseHandles();

  Platform& platform_;
  // Guards the child's handles: the service control handler waits on them from its own thread
  // while the run loop may replace them in a restart.
  std::unique_ptr<ILock> handleLock_;
  ProcessInformation info_;
  std::string rootDir_;     // cache of RootDir; empty until worked out
  std::string workingDir_;  // empty: the module directory
  std::optional<std::string> moduleDir_;
  HResult lastResult_ = 0;
};

}  // namespace keldran
