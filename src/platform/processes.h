#pragma once
// Child processes, the process environment and the program's own module.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scoped.h"
#include "platform/types.h"

namespace keldran {

struct ProcessHandleTag;
using ProcessHandle = Handle<ProcessHandleTag>;
struct ThreadHandleTag;
using ThreadHandle = Handle<ThreadHandleTag>;
struct LibraryHandleTag;
using LibraryHandle = Handle<LibraryHandleTag>;
struct JobHandleTag;
using JobHandle = Handle<JobHandleTag>;
struct FileHandleTag;
using FileHandle = Handle<FileHandleTag>;

namespace show_window {
constexpr std::uint16_t kHide = 0;
constexpr std::uint16_t kShow = 5;
}  // namespace show_window

// Priority classes (*_PRIORITY_CLASS).
namespace priority_class {
constexpr std::uint32_t kIdle = 0x40;
constexpr std::uint32_t kBelowNormal = 0x4000;
constexpr std::uint32_t kNormal = 0x20;
constexpr std::uint32_t kAboveNormal = 0x8000;
constexpr std::uint32_t kHigh = 0x80;
}  // namespace priority_class

// How a supervised child starts, beyond its command line.
struct ChildStartup {
  std::uint16_t showWindow = show_window::kHide;
  // A block of NUL-terminated "name=value" strings; none: the child inherits the host's.
  std::optional<std::string> environment;
  std::string currentDirectory;  // empty: the host's own
  // CREATE_NEW_CONSOLE: a console program gets a console of its own (shown or hidden with the
  // show state), to which the host can attach to send it Ctrl+Break; a GUI program gets none.
  bool ownConsole = false;
  // The child's standard output and error (STARTF_USESTDHANDLES; the child inherits these two
  // and no other handle of the host); none: the child's own.
  FileHandle standardOutput;
  FileHandle standardError;
};

// Reads pipes on a thread of its own until each has ended, or until the reader is destroyed.
class IPipeReader {
 public:
  // Stops reading (a read under way is cancelled), closes the read ends and waits for the thread;
  // never called from the sink.
  virtual ~IPipeReader() = default;
};

// Called on the reader's thread with what pipe (its index) gave; empty data: that pipe ended (its
// last write end closed, or it failed). Calls never overlap.
using PipeSink = std::function<void(std::size_t pipe, std::string_view data)>;

struct ProcessInformation {
  ProcessHandle process;
  ThreadHandle thread;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
};

class IProcesses {
 public:
  virtual ~IProcesses() = default;

  // CreateProcessA with no application name, no inheritance, creation flags 0 and a startup
  // information that only sets the show state. environment: a block of NUL-terminated
  // "name=value" strings ending with a second NUL, or none to inherit the host's.
  [[nodiscard]] virtual Win32Error CreateProcess(const std::string& commandLine,
                                                 std::uint16_t showWindow,
                                                 const std::optional<std::string>& environment,
                                                 const std::string& currentDirectory,
                                                 ProcessInformation* info) = 0;
  // CreateProcessA as above, with the child's primary thread suspended (CREATE_SUSPENDED), for a
  // caller that puts the child in a job and sets its priority before it runs. The child breaks
  // away from a job that the caller itself runs in when that job allows it, so that it can join
  // the caller's own job.
  [[nodiscard]] virtual Win32Error CreateSuspendedProcess(const std::string& commandLine,
                                                          const ChildStartup& startup,
                                                          ProcessInformation* info) = 0;
  // ResumeThread.
  [[nodiscard]] virtual Win32Error ResumeThread(ThreadHandle thread) = 0;

  // An unnamed job object that kills every process in it when its last handle is closed
  // (JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE); its processes may start others outside it with
  // CREATE_BREAKAWAY_FROM_JOB (JOB_OBJECT_LIMIT_BREAKAWAY_OK).
  [[nodiscard]] virtual Win32Error CreateKillOnCloseJob(JobHandle* job) = 0;
  // AssignProcessToJobObject.
  [[nodiscard]] virtual Win32Error AssignToJob(JobHandle job, ProcessHandle process) = 0;
  virtual void CloseJob(JobHandle job) = 0;

  // A pipe for a child's standard output or error: the read end is the host's own (never
  // inherited) and is read by a pipe reader; the write end is inheritable, for ChildStartup.
  // The host closes its copy of the write end once the child has started, so that the pipe ends
  // when the child and whatever inherited it let go of it.
  [[nodiscard]] virtual Win32Error CreateOutputPipe(FileHandle* readEnd, FileHandle* writeEnd) = 0;
  virtual void ClosePipe(FileHandle end) = 0;
  // Starts a thread that reads the pipes (it owns their read ends from now on, also on failure)
  // and hands what it reads to the sink; null when no thread could be started.
  virtual std::unique_ptr<IPipeReader> StartPipeReader(std::vector<FileHandle> readEnds,
                                                       PipeSink sink) = 0;
  // A minidump of the process (its threads with their stacks and its modules, not its memory)
  // written to a new file on a thread of its own. Waits up to milliseconds for it: kTimeout when
  // that ran out (the thread then finishes, or fails, on its own and removes what it could not
  // finish).
  [[nodiscard]] virtual Win32Error WriteMiniDump(ProcessHandle process, std::uint32_t processId,
                                                 const std::string& path,
                                                 std::uint32_t milliseconds) = 0;

  // WaitForSingleObject on a process: one of wait_result.
  virtual std::uint32_t WaitForProcess(ProcessHandle process, std::uint32_t milliseconds) = 0;
  virtual bool TerminateProcess(ProcessHandle process, std::uint32_t exitCode) = 0;
  virtual bool GetExitCode(ProcessHandle process, std::uint32_t* exitCode) = 0;
  virtual void CloseProcess(ProcessHandle process) = 0;
  virtual void CloseThread(ThreadHandle thread) = 0;

  // SetPriorityClass, and SetProcessAffinityMask (bit n: processor n).
  [[nodiscard]] virtual Win32Error SetPriorityClass(ProcessHandle process,
                                                    std::uint32_t priorityClass) = 0;
  [[nodiscard]] virtual Win32Error SetAffinityMask(ProcessHandle process, std::uint64_t mask) = 0;
  // Ctrl+Break to every process of the console that the process has: the host attaches to that
  // console for the moment and ignores the event itself. Where Ctrl+Break cannot be sent (Wine
  // answers 6), Ctrl+C goes instead and *ctrlC says so.
  [[nodiscard]] virtual Win32Error SendConsoleBreak(std::uint32_t processId, bool* ctrlC) = 0;

  virtual bool SetEnvironmentVariable(const std::string& name, const std::string& value) = 0;
  virtual std::optional<std::string> GetEnvironmentVariable(const std::string& name) = 0;
  // The host's whole environment (GetEnvironmentStringsA), one "name=value" each.
  virtual std::vector<std::string> EnvironmentStrings() = 0;

  // GetModuleFileNameA of the program (260 characters at most).
  virtual std::string ModuleFileName() = 0;
  // GetCommandLineA.
  virtual std::string CommandLine() = 0;
  virtual std::uint32_t CurrentProcessId() = 0;

  // A DLL's self-registration entry (DllRegisterServer and kin): load, call, free.
  [[nodiscard]] virtual Win32Error LoadLibrary(const std::string& path, LibraryHandle* lib) = 0;
  // kProcNotFound when the export is missing; otherwise *result holds what it returned.
  [[nodiscard]] virtual Win32Error CallEntryPoint(LibraryHandle lib, const std::string& name,
                                                  HResult* result) = 0;
  virtual void FreeLibrary(LibraryHandle lib) = 0;
};

using ScopedProcessHandle = Scoped<IProcesses, ProcessHandle, &IProcesses::CloseProcess>;
using ScopedThreadHandle = Scoped<IProcesses, ThreadHandle, &IProcesses::CloseThread>;
using ScopedLibrary = Scoped<IProcesses, LibraryHandle, &IProcesses::FreeLibrary>;
using ScopedJob = Scoped<IProcesses, JobHandle, &IProcesses::CloseJob>;
using ScopedPipe = Scoped<IProcesses, FileHandle, &IProcesses::ClosePipe>;

}  // namespace keldran
