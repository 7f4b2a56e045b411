#include "platform/fake/fake_processes.h"

#include <vector>

namespace keldran::fake {
namespace {

// The readings of a command line given without an application name, in the order Windows tries
// them: the quoted text; or, unquoted, each prefix ending at a blank, shortest first, then the
// whole line ("C:\Program Files\x.exe -a" tries "C:\Program" before "C:\Program Files\x.exe").
std::vector<std::string> ProgramReadings(const std::string& commandLine) {
  std::size_t start = 0;
  while (start < commandLine.size() && (commandLine[start] == ' ' || commandLine[start] == '\t'))
    ++start;
  if (start < commandLine.size() && commandLine[start] == '"') {
    std::size_t end = commandLine.find('"', start + 1);
    return {commandLine.substr(start + 1,
                               end == std::string::npos ? std::string::npos : end - start - 1)};
  }
  std::vector<std::string> readings;
  for (std::size_t blank = commandLine.find(' ', start); blank != std::string::npos;
       blank = commandLine.find(' ', blank + 1)) {
    readings.push_back(commandLine.substr(start, blank - start));
  }
  readings.push_back(commandLine.substr(start));
  return readings;
}

}  // namespace

FakeProcesses::FakeProcesses(FaultPlan& faults, FakeSystemTexts& texts, FakeClock& clock)
    : FakeArea(faults, texts), clock_(clock) {
  SetEnvironmentVariable("PATH", "C:\\windows\\system32;C:\\windows");
  SetEnvironmentVariable("TEMP", "C:\\temp");
  SetEnvironmentVariable("SystemRoot", "C:\\windows");
}

FakeProcesses::~FakeProcesses() {
  for (auto& [pid, id] : pendingExits_) clock_.Cancel(id);
}

Win32Error FakeProcesses::CreateProcess(const std::string& commandLine, std::uint16_t showWindow,
                                        const std::optional<std::string>& environment,
                                        const std::string& currentDirectory,
                                        ProcessInformation* info) {
  return Create(commandLine, showWindow, environment, currentDirectory, false, info);
}

Win32Error FakeProcesses::CreateSuspendedProcess(const std::string& commandLine,
                                                 std::uint16_t showWindow,
                                                 const std::optional<std::string>& environment,
                                                 const std::string& currentDirectory,
                                                 ProcessInformation* info) {
  return Create(commandLine, showWindow, environment, currentDirectory, true, info);
}

Win32Error FakeProcesses::Create(const std::string& commandLine, std::uint16_t showWindow,
                                 const std::optional<std::string>& environment,
                                 const std::string& currentDirectory, bool suspended,
                                 ProcessInformation* info) {
  std::lock_guard lock(mutex_);
  *info = ProcessInformation{};
  if (auto e = Injected("CreateProcess")) return *e;
  std::string program;
  auto it = programs_.end();
  for (const auto& reading : ProgramReadings(commandLine)) {
    it = programs_.find(FoldCase(reading));
    if (it == programs_.end() && reading.find('.') == std::string::npos)
      it = programs_.find(FoldCase(reading + ".exe"));
    if (it != programs_.end()) {
      program = reading;
      break;
    }
  }
  if (it == programs_.end()) return Fail(win32_error::kFileNotFound);

  auto child = std::make_shared<FakeChild>();
  child->processId = nextProcessId_;
  nextProcessId_ += 4;
  child->commandLine = commandLine;
  child->program = program;
  child->showWindow = showWindow;
  child->currentDirectory = currentDirectory;
  for (const auto& [_, nv] : environment_) child->environment[nv.first] = nv.second;
  child->environmentBlock = environment;
  child->startedAt = clock_.Elapsed();
  children_.push_back(child);

  info->process = ProcessHandle{nextHandle_};
  processHandles_[nextHandle_] = child;
  nextHandle_ += 4;
  info->thread = ThreadHandle{nextHandle_};
  threadHandles_[nextHandle_] = child;
  nextHandle_ += 4;
  info->processId = child->processId;
  info->threadId = child->processId + 1;

  if (suspended) {
    child->suspended = true;
    suspendedPrograms_[child->processId] = it->second;
  } else {
    Begin(child, it->second);
  }
  return 0;
}

void FakeProcesses::Begin(const std::shared_ptr<FakeChild>& child, const FakeProgram& behaviour) {
  if (behaviour.exitAfter) {
    const std::uint32_t pid = child->processId;
    const std::uint32_t code = behaviour.exitCode;
    pendingExits_[pid] = clock_.After(*behaviour.exitAfter, [this, pid, code] {
      std::lock_guard inner(mutex_);
      pendingExits_.erase(pid);
      for (auto& c : children_) {
        if (c->processId == pid && c->running) End(*c, code, false);
      }
    });
  }
  if (behaviour.onStart) {
    auto onStart = behaviour.onStart;
    onStart(*child);
  }
}

Win32Error FakeProcesses::ResumeThread(ThreadHandle thread) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("ResumeThread")) return *e;
  auto it = threadHandles_.find(thread.value);
  if (it == threadHandles_.end()) return Fail(win32_error::kInvalidHandle);
  const std::shared_ptr<FakeChild> child = it->second;
  auto program = suspendedPrograms_.find(child->processId);
  if (!child->suspended || program == suspendedPrograms_.end()) return 0;
  child->suspended = false;
  const FakeProgram behaviour = std::move(program->second);
  suspendedPrograms_.erase(program);
  if (child->running) Begin(child, behaviour);
  return 0;
}

Win32Error FakeProcesses::CreateKillOnCloseJob(JobHandle* job) {
  std::lock_guard lock(mutex_);
  *job = JobHandle{};
  if (auto e = Injected("CreateJobObject")) return *e;
  *job = JobHandle{nextHandle_};
  jobs_[nextHandle_];
  nextHandle_ += 4;
  return 0;
}

Win32Error FakeProcesses::AssignToJob(JobHandle job, ProcessHandle process) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("AssignProcessToJobObject")) return *e;
  auto members = jobs_.find(job.value);
  auto child = ChildOf(process);
  if (members == jobs_.end() || !child) return Fail(win32_error::kInvalidHandle);
  if (child->inJob) return Fail(win32_error::kAccessDenied);  // one job per process here
  child->inJob = true;
  members->second.push_back(child);
  return 0;
}

void FakeProcesses::CloseJob(JobHandle job) {
  std::lock_guard lock(mutex_);
  auto members = jobs_.find(job.value);
  if (members == jobs_.end()) return;
  // Kill on close: what of the job still runs ends, with exit code 0 as under Wine.
  for (const auto& child : members->second) {
    if (child->running) End(*child, 0, true);
  }
  jobs_.erase(members);
}

std::shared_ptr<FakeChild> FakeProcesses::ChildOf(ProcessHandle process) const {
  auto it = processHandles_.find(process.value);
  return it == processHandles_.end() ? nullptr : it->second;
}

void FakeProcesses::End(FakeChild& child, std::uint32_t exitCode, bool terminated) {
  child.running = false;
  child.terminated = terminated;
  child.exitCode = exitCode;
  child.endedAt = clock_.Elapsed();
  auto pending = pendingExits_.find(child.processId);
  if (pending != pendingExits_.end()) {
    clock_.Cancel(pending->second);
    pendingExits_.erase(pending);
  }
}

std::uint32_t FakeProcesses::WaitForProcess(ProcessHandle process, std::uint32_t milliseconds) {
  std::unique_lock lock(mutex_);
  if (auto e = Injected("WaitForSingleObject")) {
    (void)e;
    return wait_result::kFailed;
  }
  auto child = ChildOf(process);
  if (!child) {
    Fail(win32_error::kInvalidHandle);
    return wait_result::kFailed;
  }
  if (!child->running) return wait_result::kObject0;
  if (milliseconds == 0) return wait_result::kTimeout;
  // Let virtual time run until the child ends or the wait is over.
  const std::uint64_t deadline =
      milliseconds == kInfinite ? UINT64_MAX : clock_.Elapsed() + milliseconds;
  lock.unlock();
  while (child->running) {
    auto next = clock_.NextActionTime();
    if (!next || *next > deadline) break;
    clock_.RunNextAction();
  }
  if (!child->running) return wait_result::kObject0;
  if (milliseconds == kInfinite) {
    Fail(win32_error::kInvalidHandle);  // nothing left that could end it: a test bug
    return wait_result::kFailed;
  }
  clock_.Advance(deadline - clock_.Elapsed());
  return child->running ? wait_result::kTimeout : wait_result::kObject0;
}

bool FakeProcesses::TerminateProcess(ProcessHandle process, std::uint32_t exitCode) {
  std::lock_guard lock(mutex_);
  if (Injected("TerminateProcess")) return false;
  auto child = ChildOf(process);
  if (!child) {
    Fail(win32_error::kInvalidHandle);
    return false;
  }
  if (!child->running) {
    Fail(win32_error::kAccessDenied);  // as Windows answers for a process that has ended
    return false;
  }
  End(*child, exitCode, true);
  return true;
}

bool FakeProcesses::GetExitCode(ProcessHandle process, std::uint32_t* exitCode) {
  std::lock_guard lock(mutex_);
  auto child = ChildOf(process);
  if (!child) {
    Fail(win32_error::kInvalidHandle);
    return false;
  }
  *exitCode = child->exitCode;
  return true;
}

void FakeProcesses::CloseProcess(ProcessHandle process) {
  std::lock_guard lock(mutex_);
  processHandles_.erase(process.value);
}

void FakeProcesses::CloseThread(ThreadHandle thread) {
  std::lock_guard lock(mutex_);
  threadHandles_.erase(thread.value);
}

bool FakeProcesses::SetEnvironmentVariable(const std::string& name, const std::string& value) {
  std::lock_guard lock(mutex_);
  if (Injected("SetEnvironmentVariable")) return false;
  environment_[FoldCase(name)] = {name, value};
  return true;
}

std::optional<std::string> FakeProcesses::GetEnvironmentVariable(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = environment_.find(FoldCase(name));
  if (it == environment_.end()) {
    Fail(203);  // ERROR_ENVVAR_NOT_FOUND
    return std::nullopt;
  }
  return it->second.second;
}

std::string FakeProcesses::ModuleFileName() {
  std::lock_guard lock(mutex_);
  return moduleFileName_;
}

std::string FakeProcesses::CommandLine() {
  std::lock_guard lock(mutex_);
  return commandLine_;
}

std::uint32_t FakeProcesses::CurrentProcessId() { return 1000; }

Win32Error FakeProcesses::LoadLibrary(const std::string& path, LibraryHandle* lib) {
  std::lock_guard lock(mutex_);
  *lib = LibraryHandle{};
  if (auto e = Injected("LoadLibrary")) return *e;
  auto it = libraries_.find(FoldCase(path));
  if (it == libraries_.end()) return Fail(win32_error::kModNotFound);
  *lib = LibraryHandle{nextHandle_};
  loaded_[nextHandle_] = FoldCase(path);
  nextHandle_ += 4;
  return 0;
}

Win32Error FakeProcesses::CallEntryPoint(LibraryHandle lib, const std::string& name,
                                         HResult* result) {
  std::lock_guard lock(mutex_);
  auto loaded = loaded_.find(lib.value);
  if (loaded == loaded_.end()) return Fail(win32_error::kInvalidHandle);
  const auto& entries = libraries_[loaded->second];
  auto it = entries.find(name);
  if (it == entries.end()) return Fail(win32_error::kProcNotFound);
  entryPointCalls_.push_back(loaded->second + "!" + name);
  *result = it->second;
  return 0;
}

void FakeProcesses::FreeLibrary(LibraryHandle lib) {
  std::lock_guard lock(mutex_);
  loaded_.erase(lib.value);
}

void FakeProcesses::AddProgram(const std::string& path, FakeProgram program) {
  std::lock_guard lock(mutex_);
  programs_[FoldCase(path)] = std::move(program);
}

void FakeProcesses::SetModuleFileName(const std::string& path) {
  std::lock_guard lock(mutex_);
  moduleFileName_ = path;
}

void FakeProcesses::SetCommandLine(const std::string& commandLine) {
  std::lock_guard lock(mutex_);
  commandLine_ = commandLine;
}

void FakeProcesses::AddLibrary(const std::string& path,
                               std::map<std::string, HResult> entryPoints) {
  std::lock_guard lock(mutex_);
  libraries_[FoldCase(path)] = std::move(entryPoints);
}

std::vector<FakeChild> FakeProcesses::Children() const {
  std::lock_guard lock(mutex_);
  std::vector<FakeChild> out;
  for (const auto& c : children_) out.push_back(*c);
  return out;
}

std::optional<FakeChild> FakeProcesses::LastChild() const {
  std::lock_guard lock(mutex_);
  if (children_.empty()) return std::nullopt;
  return *children_.back();
}

void FakeProcesses::ExitChild(std::uint32_t processId, std::uint32_t exitCode) {
  std::lock_guard lock(mutex_);
  for (auto& c : children_) {
    if (c->processId == processId && c->running) End(*c, exitCode, false);
  }
}

std::size_t FakeProcesses::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return processHandles_.size() + threadHandles_.size() + jobs_.size();
}

std::vector<std::string> FakeProcesses::EntryPointCalls() const {
  std::lock_guard lock(mutex_);
  return entryPointCalls_;
}

std::size_t FakeProcesses::LoadedLibraryCount() const {
  std::lock_guard lock(mutex_);
  return loaded_.size();
}

}  // namespace keldran::fake
