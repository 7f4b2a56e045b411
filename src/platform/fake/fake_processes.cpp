#include "platform/fake/fake_processes.h"

namespace keldran::fake {

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
  ChildStartup startup;
  startup.showWindow = showWindow;
  startup.environment = environment;
  startup.currentDirectory = currentDirectory;
  return Create(commandLine, startup, false, info);
}

Win32Error FakeProcesses::CreateSuspendedProcess(const std::string& commandLine,
                                                 const ChildStartup& startup,
                                                 ProcessInformation* info) {
  return Create(commandLine, startup, true, info);
}

Win32Error FakeProcesses::Create(const std::string& commandLine, const ChildStartup& startup,
                                 bool suspended, ProcessInformation* info) {
  std::lock_guard lock(mutex_);
  *info = ProcessInformation{};
  if (auto e = Injected("CreateProcess")) return *e;
  // An unquoted program path up to the first blank, as every test writes it.
  auto it = programs_.find(FoldCase(commandLine.substr(0, commandLine.find(' '))));
  if (it == programs_.end()) return Fail(win32_error::kFileNotFound);

  auto child = std::make_shared<FakeChild>();
  child->processId = nextProcessId_;
  nextProcessId_ += 4;
  child->commandLine = commandLine;
  child->showWindow = startup.showWindow;
  child->currentDirectory = startup.currentDirectory;
  child->environmentBlock = startup.environment;
  child->ownConsole = startup.ownConsole;
  children_.push_back(child);

  info->process = ProcessHandle{NewHandle()};
  processHandles_[info->process.value] = child;
  info->thread = ThreadHandle{NewHandle()};
  threadHandles_[info->thread.value] = child;
  info->processId = child->processId;
  info->threadId = child->processId + 1;

  const FakeProgram& program = programOf_[child->processId] = it->second;
  child->suspended = suspended;
  if (!suspended) Begin(child, program);
  return 0;
}

void FakeProcesses::Begin(const std::shared_ptr<FakeChild>& child, const FakeProgram& behaviour) {
  if (behaviour.exitAfter) {
    const std::uint32_t pid = child->processId;
    const std::uint32_t code = behaviour.exitCode;
    pendingExits_[pid] =
        clock_.After(*behaviour.exitAfter, [this, pid, code] { ExitChild(pid, code); });
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
  if (!child->suspended) return 0;
  child->suspended = false;
  if (child->running) Begin(child, programOf_[child->processId]);
  return 0;
}

Win32Error FakeProcesses::CreateOutputPipe(FileHandle* readEnd, FileHandle* writeEnd) {
  std::lock_guard lock(mutex_);
  *readEnd = FileHandle{NewHandle()};
  *writeEnd = FileHandle{NewHandle()};
  pipeEnds_.insert({readEnd->value, writeEnd->value});
  return 0;
}

void FakeProcesses::ClosePipe(FileHandle end) {
  std::lock_guard lock(mutex_);
  pipeEnds_.erase(end.value);
}

std::unique_ptr<IPipeReader> FakeProcesses::StartPipeReader(std::vector<FileHandle> readEnds,
                                                            PipeSink sink) {
  struct Reader final : IPipeReader {};
  for (std::size_t i = 0; i < readEnds.size(); ++i) {
    sink(i, {});
    ClosePipe(readEnds[i]);
  }
  return std::make_unique<Reader>();
}

Win32Error FakeProcesses::CreateKillOnCloseJob(JobHandle* job) {
  std::lock_guard lock(mutex_);
  *job = JobHandle{};
  if (auto e = Injected("CreateJobObject")) return *e;
  *job = JobHandle{NewHandle()};
  jobs_[job->value];
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
  if (it != processHandles_.end()) return it->second;
  texts_.SetLastError(win32_error::kInvalidHandle);
  return nullptr;
}

void FakeProcesses::End(FakeChild& child, std::uint32_t exitCode, bool terminated) {
  child.running = false;
  child.terminated = terminated;
  child.exitCode = exitCode;
  auto pending = pendingExits_.find(child.processId);
  if (pending != pendingExits_.end()) {
    clock_.Cancel(pending->second);
    pendingExits_.erase(pending);
  }
}

std::uint32_t FakeProcesses::WaitForProcess(ProcessHandle process, std::uint32_t milliseconds) {
  std::unique_lock lock(mutex_);
  if (Injected("WaitForSingleObject")) return wait_result::kFailed;
  auto child = ChildOf(process);
  if (!child) return wait_result::kFailed;
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
  auto child = ChildOf(process);
  if (!child) return false;
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
  if (!child) return false;
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

Win32Error FakeProcesses::SetPriorityClass(ProcessHandle process, std::uint32_t priorityClass) {
  std::lock_guard lock(mutex_);
  auto child = ChildOf(process);
  if (child) child->priorityClass = priorityClass;
  return child ? 0 : win32_error::kInvalidHandle;
}

Win32Error FakeProcesses::SetAffinityMask(ProcessHandle process, std::uint64_t mask) {
  std::lock_guard lock(mutex_);
  auto child = ChildOf(process);
  if (child) child->affinityMask = mask;
  return child ? 0 : win32_error::kInvalidHandle;
}

Win32Error FakeProcesses::SendConsoleBreak(std::uint32_t processId, bool* ctrlC) {
  std::lock_guard lock(mutex_);
  *ctrlC = false;
  for (auto& child : children_) {
    if (child->processId != processId || !child->running) continue;
    // AttachConsole's answer for a process without a console.
    if (!child->ownConsole) return Fail(win32_error::kInvalidHandle);
    *ctrlC = true;
    ++child->consoleBreaks;
    if (const auto after = programOf_[processId].endsOnBreakAfter)
      pendingExits_[processId] =
          clock_.After(*after, [this, processId] { ExitChild(processId, 0); });
    return 0;
  }
  return Fail(win32_error::kInvalidParameter);
}

std::vector<std::string> FakeProcesses::EnvironmentStrings() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> strings;
  for (const auto& [_, nv] : environment_) strings.push_back(nv.first + "=" + nv.second);
  return strings;
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

void FakeProcesses::AddProgram(const std::string& path, FakeProgram program) {
  std::lock_guard lock(mutex_);
  programs_[FoldCase(path)] = std::move(program);
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
  return processHandles_.size() + threadHandles_.size() + jobs_.size() + pipeEnds_.size();
}

}  // namespace keldran::fake
