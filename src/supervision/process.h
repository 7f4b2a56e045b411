#pragma once
// Process: one child process of the host — start it with a show state in a working directory,
// ask whether it has ended, wait for it, kill it — and the owner of the path macros %DIR% and
// %ROOTDIR% that every client command line and companion-file path passes through.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace keldran {

// The exit code of every client that the host kills (ERROR_TIMEOUT).
inline constexpr std::uint32_t kKilledExitCode = win32_error::kTimeout;

// A child's process handle that stays open for as long as anyone holds it, so a thread can
// wait on it while another replaces the child (Windows leaves closing a handle that is being
// waited on undefined). The child's job goes with it.
using SharedProcessHandle = std::shared_ptr<const ProcessHandle>;

// How a child starts: the platform's start-up (its directory is the Process's own), and what is
// set on the child before its first instruction.
struct StartOptions {
  ChildStartup startup;
  std::uint32_t priorityClass = 0;  // 0: as the system chooses
  std::uint64_t affinityMask = 0;   // 0: every processor
};

class Process {
 public:
  explicit Process(Platform& platform);
  // A child that is still running is killed with exit code 1460; handles are closed.
  virtual ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts the command line (macros expanded) with the show state in BaseDir, in a job of its
  // own that kills it when the last holder of its handle lets go, so that it never outlives the
  // host, however the host ends. A child whose job cannot be made still starts (JobError says
  // why it runs without one). On failure the Win32 error goes to *error and LastResult holds it
  // as an HRESULT; the earlier child, if any, stays known.
  [[nodiscard]] bool Start(const std::string& commandLine, StartOptions options,
                           Win32Error* error = nullptr);
  [[nodiscard]] bool Start(const std::string& commandLine, std::uint16_t showState,
                           Win32Error* error = nullptr,
                           const std::optional<std::string>& environment = std::nullopt);
  // True when there is no child or it has ended.
  bool HasEnded();
  // True when there is no child or the wait did not time out (a failed wait counts as ended).
  // No lock is held while waiting.
  bool WaitForEnd(std::uint32_t milliseconds);
  void Terminate(std::uint32_t exitCode);
  // The current child's handle, or none.
  SharedProcessHandle Handle() const;
  // Why the current child runs outside a job of its own; 0 when it is in one.
  Win32Error JobError() const;
  // What could not be set on the current child before it ran (its priority or processors, with
  // the reason), or empty.
  std::string TuningError() const;
  // The child's exit code once it has ended; none while it runs or when there is none.
  std::optional<std::uint32_t> ExitCode();

  // The client's working directory as configured: its macros are expanded first.
  void SetWorkingDir(const std::string& directory);
  // A folder taken as it is (a percent sign in its name stays), for %DIR% and %ROOTDIR%.
  void SetBaseDir(const std::string& directory);
  std::string BaseDir();
  std::string RootDir();
  std::string ExpandFileMacros(const std::string& text);
  HResult LastResult() const { return lastResult_; }

  // The child's identity, for tests and diagnostics.
  std::uint32_t processId() const;
  bool hasChild() const { return static_cast<bool>(Handle()); }

 private:
  struct ChildHandles;
  std::string ModuleDirectory();

  Platform& platform_;
  // Guards the child's handles, which the service control handler reads from its own thread
  // while the run loop may replace them in a restart. Never held across a wait.
  std::unique_ptr<ILock> handleLock_;
  SharedProcessHandle process_ GUARDED_BY(*handleLock_);
  ScopedThreadHandle thread_ GUARDED_BY(*handleLock_);
  std::uint32_t processId_ GUARDED_BY(*handleLock_) = 0;
  Win32Error jobError_ GUARDED_BY(*handleLock_) = 0;
  std::string tuningError_ GUARDED_BY(*handleLock_);
  std::string rootDir_;     // cache of RootDir; empty until worked out
  std::string workingDir_;  // empty: the module directory
  std::optional<std::string> moduleDir_;
  HResult lastResult_ = 0;
};

// LastResult from a Win32 error: a positive code becomes an HRESULT; anything that does not
// read as a failure becomes E_FAIL.
HResult ResultFromError(Win32Error error);

}  // namespace keldran
