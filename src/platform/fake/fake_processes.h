#pragma once
// Scripted child processes in virtual time: a test registers programs by path with how they
// behave; starting any other program fails like a missing file.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_support.h"
#include "platform/processes.h"

namespace keldran::fake {

struct FakeChild {
  std::uint32_t processId = 0;
  std::string commandLine;
  std::uint16_t showWindow = 0;
  std::string currentDirectory;
  std::optional<std::string> environmentBlock;  // when CreateProcess was given one
  bool ownConsole = false;
  std::uint32_t priorityClass = 0;  // 0: never set
  std::uint64_t affinityMask = 0;   // 0: never set
  int consoleBreaks = 0;
  bool running = true;
  bool suspended = false;  // started suspended and not resumed yet
  bool inJob = false;
  bool terminated = false;       // by TerminateProcess or its job's closing
  std::uint32_t exitCode = 259;  // STILL_ACTIVE while running
};

struct FakeProgram {
  // Ends by itself this many virtual milliseconds after its start; none: runs until killed.
  std::optional<std::uint64_t> exitAfter;
  std::uint32_t exitCode = 0;
  std::function<void(FakeChild&)> onStart;
  // Ends with exit code 0 this long after it hears Ctrl+C on its console.
  std::optional<std::uint64_t> endsOnBreakAfter;

  static FakeProgram ExitsAfter(std::uint64_t milliseconds, std::uint32_t exitCode) {
    FakeProgram program;
    program.exitAfter = milliseconds;
    program.exitCode = exitCode;
    return program;
  }
};

class FakeProcesses final : public IProcesses, private FakeArea {
 public:
  FakeProcesses(FaultPlan& faults, FakeSystemTexts& texts, FakeClock& clock);
  ~FakeProcesses() override;

  Win32Error CreateProcess(const std::string& commandLine, std::uint16_t showWindow,
                           const std::optional<std::string>& environment,
                           const std::string& currentDirectory, ProcessInformation* info) override;
  Win32Error CreateSuspendedProcess(const std::string& commandLine, const ChildStartup& startup,
                                    ProcessInformation* info) override;
  Win32Error SetPriorityClass(ProcessHandle process, std::uint32_t priorityClass) override;
  Win32Error SetAffinityMask(ProcessHandle process, std::uint64_t mask) override;
  // As under Wine: Ctrl+Break cannot be sent, Ctrl+C goes instead.
  Win32Error SendConsoleBreak(std::uint32_t processId, bool* ctrlC) override;
  std::vector<std::string> EnvironmentStrings() override;
  Win32Error ResumeThread(ThreadHandle thread) override;
  Win32Error CreateKillOnCloseJob(JobHandle* job) override;
  Win32Error AssignToJob(JobHandle job, ProcessHandle process) override;
  void CloseJob(JobHandle job) override;
  // Pipes are handle values only: the fake's children write nothing, so a reader sees every
  // pipe end at once.
  Win32Error CreateOutputPipe(FileHandle* readEnd, FileHandle* writeEnd) override;
  void ClosePipe(FileHandle end) override;
  std::unique_ptr<IPipeReader> StartPipeReader(std::vector<FileHandle> readEnds,
                                               PipeSink sink) override;
  // Dumps are tested under Wine only.
  Win32Error WriteMiniDump(ProcessHandle, std::uint32_t, const std::string&,
                           std::uint32_t) override {
    NotModelled("MiniDumpWriteDump");
  }
  std::uint32_t WaitForProcess(ProcessHandle process, std::uint32_t milliseconds) override;
  bool TerminateProcess(ProcessHandle process, std::uint32_t exitCode) override;
  bool GetExitCode(ProcessHandle process, std::uint32_t* exitCode) override;
  void CloseProcess(ProcessHandle process) override;
  void CloseThread(ThreadHandle thread) override;
  bool SetEnvironmentVariable(const std::string& name, const std::string& value) override;
  std::optional<std::string> GetEnvironmentVariable(const std::string& name) override;
  std::string ModuleFileName() override { return Locked(mutex_, moduleFileName_); }
  std::string CommandLine() override {
    return "\"C:\\Program Files\\Keldran\\KeldranGridAgent.exe\"";
  }
  std::uint32_t CurrentProcessId() override { return 1000; }
  Win32Error LoadLibrary(const std::string&, LibraryHandle* lib) override {
    *lib = LibraryHandle{};
    return Fail(win32_error::kModNotFound);
  }
  Win32Error CallEntryPoint(LibraryHandle, const std::string&, HResult*) override {
    NotModelled("GetProcAddress");
  }
  void FreeLibrary(LibraryHandle) override { NotModelled("FreeLibrary"); }

  void AddProgram(const std::string& path, FakeProgram program);
  void SetModuleFileName(const std::string& path) {
    std::lock_guard lock(mutex_);
    moduleFileName_ = path;
  }
  std::vector<FakeChild> Children() const;
  std::optional<FakeChild> LastChild() const;
  // Ends a running child as if it exited by itself.
  void ExitChild(std::uint32_t processId, std::uint32_t exitCode);
  std::size_t OpenHandleCount() const;  // pipe ends included

 private:
  Win32Error Create(const std::string& commandLine, const ChildStartup& startup, bool suspended,
                    ProcessInformation* info);
  // The program's behaviour begins: its exit is scheduled and its start action runs.
  void Begin(const std::shared_ptr<FakeChild>& child, const FakeProgram& behaviour);
  // The child of an open process handle; none, with ERROR_INVALID_HANDLE, otherwise.
  std::shared_ptr<FakeChild> ChildOf(ProcessHandle process) const;
  void End(FakeChild& child, std::uint32_t exitCode, bool terminated);

  FakeClock& clock_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, FakeProgram> programs_;  // by folded path
  std::vector<std::shared_ptr<FakeChild>> children_;
  std::map<std::uintptr_t, std::shared_ptr<FakeChild>> processHandles_;
  std::map<std::uintptr_t, std::shared_ptr<FakeChild>> threadHandles_;
  std::map<std::uint32_t, FakeClock::ActionId> pendingExits_;
  std::set<std::uintptr_t> pipeEnds_;
  std::map<std::uint32_t, FakeProgram> programOf_;                          // by process id
  std::map<std::uintptr_t, std::vector<std::shared_ptr<FakeChild>>> jobs_;  // members by job
  std::map<std::string, std::pair<std::string, std::string>> environment_;  // folded → name, value
  std::string moduleFileName_ = "C:\\Program Files\\Keldran\\KeldranGridAgent.exe";
  std::uint32_t nextProcessId_ = 4000;
};

}  // namespace keldran::fake
