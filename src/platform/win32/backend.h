#pragma once
// Inside the Win32 backend: the per-area implementations that Win32Platform assembles, and the
// conversions they share.

#include "platform/win32/windows_api.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace keldran::win32 {

// Seam handles carry the raw handle value; 0 stands for none, so INVALID_HANDLE_VALUE becomes 0.
template <class H>
H ToSeam(const void* raw) {
  return H{raw == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<std::uintptr_t>(raw)};
}
template <class Raw, class H>
Raw FromSeam(H handle) {
  return reinterpret_cast<Raw>(handle.value);
}

// Window handles travel as plain integers.
inline HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

// The calling thread's last error as an HRESULT.
inline HResult LastErrorResult() { return HResultFromWin32(::GetLastError()); }

// ANSI code page text to and from UTF-16 (the COM boundary and the wide calls).
std::wstring ToWide(std::string_view text);
std::string ToAnsi(std::wstring_view text);

// A client's output pipes and its minidump (client_output.cpp), for IProcesses.
Win32Error CreateOutputPipe(FileHandle* readEnd, FileHandle* writeEnd);
std::unique_ptr<IPipeReader> StartPipeReader(std::vector<FileHandle> readEnds, PipeSink sink);
Win32Error WriteMiniDump(ProcessHandle process, std::uint32_t processId, const std::string& path,
                         std::uint32_t milliseconds);

std::unique_ptr<IRegistry> MakeRegistry();
std::unique_ptr<IServiceManager> MakeServiceManager();
std::unique_ptr<IEventLog> MakeEventLog();
std::unique_ptr<IProcesses> MakeProcesses();
std::unique_ptr<IFileSystem> MakeFileSystem();
std::unique_ptr<IClock> MakeClock();
std::unique_ptr<IWindowing> MakeWindowing();
std::unique_ptr<IDialogs> MakeDialogs();
std::unique_ptr<ICom> MakeCom();
std::unique_ptr<IShell> MakeShell();
std::unique_ptr<ISync> MakeSync();
// messageModule: the module whose message table ModuleMessage reads.
std::unique_ptr<ISystemTexts> MakeSystemTexts(HMODULE messageModule);

}  // namespace keldran::win32
