// The child-process wrapper and the path macros %DIR% and %ROOTDIR%.
#include "supervision/process.h"

#include "config/configuration.h"
#include "log/error_text.h"

namespace keldran {
namespace {

constexpr std::uint32_t kStillActive = 259;  // what GetExitCodeProcess says of a running process

// A path buffer holds MAX_PATH characters with the terminating NUL, so a longer text keeps its
// first 259 characters; a cut path will not name anything, and the start or file operation that
// uses it reports that.
std::string CutToPathBuffer(const std::string& text) { return text.substr(0, kPathBuffer - 1); }

bool EndsWithBinIgnoringCase(const std::string& text) {
  if (text.size() < 4) return false;
  const char* tail = text.c_str() + text.size() - 4;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return tail[0] == '\\' && lower(tail[1]) == 'b' && lower(tail[2]) == 'i' && lower(tail[3]) == 'n';
}

}  // namespace

// The child's process handle and its job, released together by the last holder: closing the
// job kills whatever of the child still runs.
struct Process::ChildHandles {
  ChildHandles(IProcesses& processes, ProcessHandle process)
      : processes(processes), process(process), job(processes) {}
  ~ChildHandles() {
    job.reset();
    processes.CloseProcess(process);
  }
  ChildHandles(const ChildHandles&) = delete;
  ChildHandles& operator=(const ChildHandles&) = delete;

  IProcesses& processes;
  const ProcessHandle process;
  ScopedJob job;
};

HResult ResultFromError(Win32Error error) {
  const HResult result = HResultFromWin32(error);
  return Failed(result) ? result : kEFail;
}

Process::Process(Platform& platform)
    : platform_(platform),
      handleLock_(platform.sync.CreateCriticalSection(0)),
      thread_(platform.processes) {}

Process::~Process() {
  if (!HasEnded()) Terminate(kKilledExitCode);
}

bool Process::Start(const std::string& commandLine, std::uint16_t showState, Win32Error* error,
                    const std::optional<std::string>& environment) {
  StartOptions options;
  options.startup.showWindow = showState;
  options.startup.environment = environment;
  return Start(commandLine, std::move(options), error);
}

bool Process::Start(const std::string& commandLine, StartOptions options, Win32Error* error) {
  const std::string expanded = ExpandFileMacros(commandLine);
  options.startup.currentDirectory = BaseDir();
  IProcesses& processes = platform_.processes;
  ScopedJob job(processes);
  Win32Error jobError = processes.CreateKillOnCloseJob(job.put());
  ProcessInformation started;
  Win32Error e = processes.CreateSuspendedProcess(expanded, options.startup, &started);
  if (e == 0) {
    auto child = std::make_shared<ChildHandles>(processes, started.process);
    ScopedThreadHandle thread(processes, started.thread);
    if (jobError == 0) jobError = processes.AssignToJob(job.get(), started.process);
    if (jobError == 0) child->job = std::move(job);
    // Priority and processors are set here, not by creation flags, which Wine ignores.
    std::string tuningError;
    if (options.priorityClass != 0) {
      if (const Win32Error p = processes.SetPriorityClass(started.process, options.priorityClass))
        tuningError = Format("its priority could not be set (error %u)", p);
    }
    if (options.affinityMask != 0) {
      if (const Win32Error a = processes.SetAffinityMask(started.process, options.affinityMask)) {
        if (!tuningError.empty()) tuningError += "; ";
        tuningError += Format("its processors could not be set (error %u)", a);
      }
    }
    // The child runs its first instruction only once it is in the job, so nothing it starts
    // can escape it.
    e = processes.ResumeThread(thread.get());
    if (e == 0) {
      // The host restarts its client for as long as it runs: the previous child's handles go
      // here (or once the last waiter lets go of its process handle), or every restart would
      // leak them.
      LockGuard guard(*handleLock_);
      process_ = SharedProcessHandle(child, &child->process);
      thread_ = std::move(thread);
      processId_ = started.processId;
      jobError_ = jobError;
      tuningError_ = std::move(tuningError);
      return true;
    }
    (void)processes.TerminateProcess(started.process, kKilledExitCode);
  }
  if (error) *error = e;
  lastResult_ = ResultFromError(e);
  return false;
}

std::string Process::TuningError() const {
  LockGuard guard(*handleLock_);
  return tuningError_;
}

SharedProcessHandle Process::Handle() const {
  LockGuard guard(*handleLock_);
  return process_;
}

Win32Error Process::JobError() const {
  LockGuard guard(*handleLock_);
  return jobError_;
}

std::uint32_t Process::processId() const {
  LockGuard guard(*handleLock_);
  return processId_;
}

bool Process::HasEnded() {
  const SharedProcessHandle handle = Handle();
  return !handle || platform_.processes.WaitForProcess(*handle, 0) == wait_result::kObject0;
}

bool Process::WaitForEnd(std::uint32_t milliseconds) {
  const SharedProcessHandle handle = Handle();
  return !handle ||
         platform_.processes.WaitForProcess(*handle, milliseconds) != wait_result::kTimeout;
}

std::optional<std::uint32_t> Process::ExitCode() {
  const SharedProcessHandle handle = Handle();
  std::uint32_t code = 0;
  if (!handle || !platform_.processes.GetExitCode(*handle, &code) || code == kStillActive)
    return std::nullopt;
  return code;
}

void Process::Terminate(std::uint32_t exitCode) {
  if (const SharedProcessHandle handle = Handle())
    (void)platform_.processes.TerminateProcess(*handle, exitCode);
}

void Process::SetWorkingDir(const std::string& directory) {
  // The working directory defaults to the client program's own, so a client configured as
  // "%DIR%\client.exe" arrives here as "%DIR%". Inside the working directory the macros cannot
  // stand for the working directory itself: there they mean the executable's directory.
  workingDir_.clear();
  rootDir_.clear();
  SetBaseDir(ExpandFileMacros(directory));
}

void Process::SetBaseDir(const std::string& directory) {
  workingDir_ = CutToPathBuffer(directory);
  rootDir_.clear();  // RootDir may have been worked out from the module directory just now
}

std::string Process::BaseDir() { return workingDir_.empty() ? ModuleDirectory() : workingDir_; }

std::string Process::RootDir() {
  if (!rootDir_.empty()) return rootDir_;
  rootDir_ = CutToPathBuffer(BaseDir());
  if (rootDir_.size() < 6) return rootDir_;
  if (rootDir_.back() == '\\') rootDir_.pop_back();
  if (EndsWithBinIgnoringCase(rootDir_)) rootDir_.resize(rootDir_.size() - 4);
  return rootDir_;
}

std::string Process::ExpandFileMacros(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    out.append(text, pos, open - pos);
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) {
      pos = open + 1;  // a lone sign is dropped
      break;
    }
    const std::string name = text.substr(open + 1, close - open - 1);
    if (name == "DIR") {
      out += BaseDir();
    } else if (name == "ROOTDIR") {
      out += RootDir();
    } else {
      out += '%';
      out += name;
      out += '%';
    }
    pos = close + 1;
  }
  if (pos < text.size()) out.append(text, pos, std::string::npos);
  return out;
}

std::string Process::ModuleDirectory() {
  if (!moduleDir_) {
    const std::string path = CutToPathBuffer(platform_.processes.ModuleFileName());
    const std::size_t slash = path.rfind('\\');
    moduleDir_ = slash == std::string::npos || slash == 0 ? path : path.substr(0, slash);
  }
  return *moduleDir_;
}

}  // namespace keldran
