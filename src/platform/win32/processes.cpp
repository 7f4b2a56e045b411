// IProcesses: child processes, the environment, the program's module and self-registering DLLs.
#include <cstring>
#include <mutex>

#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

class Processes final : public IProcesses {
 public:
  Win32Error CreateProcess(const std::string& commandLine, std::uint16_t showWindow,
                           const std::optional<std::string>& environment,
                           const std::string& currentDirectory, ProcessInformation* info) override {
    ChildStartup startup;
    startup.showWindow = showWindow;
    startup.environment = environment;
    startup.currentDirectory = currentDirectory;
    return Create(commandLine, startup, 0, info);
  }

  Win32Error CreateSuspendedProcess(const std::string& commandLine, const ChildStartup& startup,
                                    ProcessInformation* info) override {
    // A host started inside a job (as some service wrappers and CI runners start it) passes
    // that job on to its child, and a process cannot join a second job where jobs do not nest
    // (before Windows 8). Breaking away avoids that; a job that forbids it fails the start with
    // access denied, and the child then starts inside that job, where nested jobs still let it
    // join the caller's own.
    DWORD flags = CREATE_SUSPENDED | (startup.ownConsole ? CREATE_NEW_CONSOLE : 0);
    const Win32Error e = Create(commandLine, startup, flags | CREATE_BREAKAWAY_FROM_JOB, info);
    if (e != ERROR_ACCESS_DENIED) return e;
    return Create(commandLine, startup, flags, info);
  }

  Win32Error ResumeThread(ThreadHandle thread) override {
    if (::ResumeThread(FromSeam<HANDLE>(thread)) == static_cast<DWORD>(-1)) return ::GetLastError();
    return 0;
  }

  Win32Error CreateKillOnCloseJob(JobHandle* job) override {
    UniqueKernelHandle created(::CreateJobObjectA(nullptr, nullptr));
    if (!created) return ::GetLastError();
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!::SetInformationJobObject(created.get(), JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits)) {
      return ::GetLastError();
    }
    *job = ToSeam<JobHandle>(created.release());
    return 0;
  }

  Win32Error AssignToJob(JobHandle job, ProcessHandle process) override {
    if (!::AssignProcessToJobObject(FromSeam<HANDLE>(job), FromSeam<HANDLE>(process)))
      return ::GetLastError();
    return 0;
  }

  void CloseJob(JobHandle job) override { UniqueKernelHandle(FromSeam<HANDLE>(job)).reset(); }

  Win32Error CreateOutputPipe(FileHandle* readEnd, FileHandle* writeEnd) override {
    return win32::CreateOutputPipe(readEnd, writeEnd);
  }
  void ClosePipe(FileHandle end) override { UniqueKernelHandle(FromSeam<HANDLE>(end)).reset(); }
  std::unique_ptr<IPipeReader> StartPipeReader(std::vector<FileHandle> readEnds,
                                               PipeSink sink) override {
    return win32::StartPipeReader(std::move(readEnds), std::move(sink));
  }
  Win32Error WriteMiniDump(ProcessHandle process, std::uint32_t processId, const std::string& path,
                           std::uint32_t milliseconds) override {
    return win32::WriteMiniDump(process, processId, path, milliseconds);
  }

  std::uint32_t WaitForProcess(ProcessHandle process, std::uint32_t milliseconds) override {
    return ::WaitForSingleObject(FromSeam<HANDLE>(process), milliseconds);
  }

  bool TerminateProcess(ProcessHandle process, std::uint32_t exitCode) override {
    return ::TerminateProcess(FromSeam<HANDLE>(process), exitCode) != FALSE;
  }

  bool GetExitCode(ProcessHandle process, std::uint32_t* exitCode) override {
    DWORD code = 0;
    if (!::GetExitCodeProcess(FromSeam<HANDLE>(process), &code)) return false;
    *exitCode = code;
    return true;
  }

  void CloseProcess(ProcessHandle process) override {
    UniqueKernelHandle(FromSeam<HANDLE>(process)).reset();
  }
  void CloseThread(ThreadHandle thread) override {
    UniqueKernelHandle(FromSeam<HANDLE>(thread)).reset();
  }

  Win32Error SetPriorityClass(ProcessHandle process, std::uint32_t priorityClass) override {
    return ::SetPriorityClass(FromSeam<HANDLE>(process), priorityClass) ? 0 : ::GetLastError();
  }

  Win32Error SetAffinityMask(ProcessHandle process, std::uint64_t mask) override {
    return ::SetProcessAffinityMask(FromSeam<HANDLE>(process), static_cast<DWORD_PTR>(mask))
               ? 0
               : ::GetLastError();
  }

  Win32Error SendConsoleBreak(std::uint32_t processId, bool* ctrlC) override {
    // While attached, the host is one of the console's processes and gets the event too; its
    // handler ignores it (installed once, for good: the event arrives on a thread of its own
    // after the host has let go of the console).
    static std::once_flag ignoring;
    std::call_once(ignoring, [] { ::SetConsoleCtrlHandler(&IgnoreConsoleBreak, TRUE); });
    *ctrlC = false;
    // A process has one console at most: one that the host was started with (a console
    // parent's, under Wine even for a GUI program) is given up first; the host uses none.
    ::FreeConsole();
    if (!::AttachConsole(processId)) return ::GetLastError();
    Win32Error e = 0;
    // Process group 0: every process of the console, which is the child and what it started.
    if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
      *ctrlC = true;
      if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) e = ::GetLastError();
    }
    ::FreeConsole();
    return e;
  }

  std::vector<std::string> EnvironmentStrings() override {
    std::vector<std::string> strings;
    char* block = ::GetEnvironmentStringsA();
    if (!block) return strings;
    for (const char* entry = block; *entry; entry += std::strlen(entry) + 1)
      strings.push_back(entry);
    ::FreeEnvironmentStringsA(block);
    return strings;
  }

  bool SetEnvironmentVariable(const std::string& name, const std::string& value) override {
    return ::SetEnvironmentVariableA(name.c_str(), value.c_str()) != FALSE;
  }

  std::optional<std::string> GetEnvironmentVariable(const std::string& name) override {
    std::vector<char> buffer(256);
    for (;;) {
      // 0 is both "empty" and "missing"; only the last error tells them apart.
      ::SetLastError(0);
      DWORD n =
          ::GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
      }
      if (n < buffer.size()) return std::string(buffer.data(), n);
      buffer.resize(n);  // n counts the terminating NUL here
    }
  }

  std::string ModuleFileName() override {
    char buffer[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n < MAX_PATH ? n : MAX_PATH - 1);
  }

  std::string CommandLine() override { return ::GetCommandLineA(); }
  std::uint32_t CurrentProcessId() override { return ::GetCurrentProcessId(); }

  Win32Error LoadLibrary(const std::string& path, LibraryHandle* lib) override {
    HMODULE module = ::LoadLibraryA(path.c_str());
    if (!module) return ::GetLastError();
    *lib = ToSeam<LibraryHandle>(module);
    return 0;
  }

  Win32Error CallEntryPoint(LibraryHandle lib, const std::string& name, HResult* result) override {
    using EntryPoint = HRESULT(STDAPICALLTYPE*)();
    FARPROC proc = ::GetProcAddress(FromSeam<HMODULE>(lib), name.c_str());
    if (!proc) return ::GetLastError();
    *result = reinterpret_cast<EntryPoint>(reinterpret_cast<void (*)()>(proc))();
    return 0;
  }

  void FreeLibrary(LibraryHandle lib) override { UniqueModule(FromSeam<HMODULE>(lib)).reset(); }

 private:
  static BOOL WINAPI IgnoreConsoleBreak(DWORD event) noexcept {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  }

  static Win32Error Create(const std::string& commandLine, const ChildStartup& startup, DWORD flags,
                           ProcessInformation* info) {
    // CreateProcessA may write into the command line, so it gets a copy of any length.
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    std::vector<char> block;
    if (startup.environment) {
      block.assign(startup.environment->begin(), startup.environment->end());
      block.insert(block.end(), 2, '\0');  // the terminating NULs, whether given or not
    }
    STARTUPINFOEXA startupEx{};
    STARTUPINFOA& info0 = startupEx.StartupInfo;
    info0.cb = sizeof info0;
    info0.dwFlags = STARTF_USESHOWWINDOW;
    info0.wShowWindow = startup.showWindow;
    // The standard handles are the only ones the child inherits: the attribute list names them.
    HANDLE inherited[2];
    DWORD inheritedCount = 0;
    std::vector<std::uint8_t> attributes;
    const bool redirect = startup.standardOutput || startup.standardError;
    if (redirect) {
      info0.dwFlags |= STARTF_USESTDHANDLES;
      info0.hStdOutput = FromSeam<HANDLE>(startup.standardOutput);
      info0.hStdError = FromSeam<HANDLE>(startup.standardError);
      for (HANDLE h : {info0.hStdOutput, info0.hStdError}) {
        if (h && (inheritedCount == 0 || inherited[0] != h)) inherited[inheritedCount++] = h;
      }
      SIZE_T size = 0;
      ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
      attributes.resize(size);
      auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
      if (::InitializeProcThreadAttributeList(list, 1, 0, &size) &&
          ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                      inheritedCount * sizeof(HANDLE), nullptr, nullptr)) {
        startupEx.lpAttributeList = list;
        info0.cb = sizeof startupEx;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
      }
    }
    PROCESS_INFORMATION process{};
    const BOOL created = ::CreateProcessA(
        nullptr, command.data(), nullptr, nullptr, redirect ? TRUE : FALSE, flags,
        startup.environment ? block.data() : nullptr,
        startup.currentDirectory.empty() ? nullptr : startup.currentDirectory.c_str(), &info0,
        &process);
    const Win32Error e = created ? 0 : ::GetLastError();
    if (startupEx.lpAttributeList) ::DeleteProcThreadAttributeList(startupEx.lpAttributeList);
    if (!created) return e;
    *info = ProcessInformation{ToSeam<ProcessHandle>(process.hProcess),
                               ToSeam<ThreadHandle>(process.hThread), process.dwProcessId,
                               process.dwThreadId};
    return 0;
  }
};

}  // namespace

std::unique_ptr<IProcesses> MakeProcesses() { return std::make_unique<Processes>(); }

}  // namespace keldran::win32
