// IProcesses: child processes, the environment, the program's module and self-registering DLLs.
#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

class Processes final : public IProcesses {
 public:
  Win32Error CreateProcess(const std::string& commandLine, std::uint16_t showWindow,
                           const std::optional<std::string>& environment,
                           const std::string& currentDirectory, ProcessInformation* info) override {
    return Create(commandLine, showWindow, environment, currentDirectory, 0, info);
  }

  Win32Error CreateSuspendedProcess(const std::string& commandLine, std::uint16_t showWindow,
                                    const std::optional<std::string>& environment,
                                    const std::string& currentDirectory,
                                    ProcessInformation* info) override {
    // A host started inside a job (as some service wrappers and CI runners start it) passes
    // that job on to its child, and a process cannot join a second job where jobs do not nest
    // (before Windows 8). Breaking away avoids that; a job that forbids it fails the start with
    // access denied, and the child then starts inside that job, where nested jobs still let it
    // join the caller's own.
    const Win32Error e = Create(commandLine, showWindow, environment, currentDirectory,
                                CREATE_SUSPENDED | CREATE_BREAKAWAY_FROM_JOB, info);
    if (e != ERROR_ACCESS_DENIED) return e;
    return Create(commandLine, showWindow, environment, currentDirectory, CREATE_SUSPENDED, info);
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
  static Win32Error Create(const std::string& commandLine, std::uint16_t showWindow,
                           const std::optional<std::string>& environment,
                           const std::string& currentDirectory, DWORD flags,
                           ProcessInformation* info) {
    // CreateProcessA may write into the command line, so it gets a copy of any length.
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    std::vector<char> block;
    if (environment) {
      block.assign(environment->begin(), environment->end());
      block.insert(block.end(), 2, '\0');  // the terminating NULs, whether given or not
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showWindow;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, flags,
                          environment ? block.data() : nullptr,
                          currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                          &process)) {
      return ::GetLastError();
    }
    *info = ProcessInformation{ToSeam<ProcessHandle>(process.hProcess),
                               ToSeam<ThreadHandle>(process.hThread), process.dwProcessId,
                               process.dwThreadId};
    return 0;
  }
};

}  // namespace

std::unique_ptr<IProcesses> MakeProcesses() { return std::make_unique<Processes>(); }

}  // namespace keldran::win32
