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
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
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
};

}  // namespace

std::unique_ptr<IProcesses> MakeProcesses() { return std::make_unique<Processes>(); }

}  // namespace keldran::win32
