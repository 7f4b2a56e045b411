#pragma once
// Windows-free value types shared by the platform interfaces and the logic above them.

#include <cstdint>
#include <string>

namespace keldran {

// COM-style result: negative means failure.
using HResult = std::int32_t;
// A Win32 error code as GetLastError returns it.
using Win32Error = std::uint32_t;
// UTF-16 text as COM and the wide Win32 calls carry it.
using WideString = std::u16string;

constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;
constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000Eu);
constexpr HResult kMkEUnavailable = static_cast<HResult>(0x800401E3u);

constexpr bool Failed(HResult hr) { return hr < 0; }
constexpr bool Succeeded(HResult hr) { return hr >= 0; }

// A positive Win32 code e becomes 0x80070000 | (e & 0xFFFF); zero and values that are already
// negative as HRESULTs are kept as they are.
constexpr HResult HResultFromWin32(Win32Error e) {
  return static_cast<HResult>(e) <= 0 ? static_cast<HResult>(e)
                                      : static_cast<HResult>(0x80070000u | (e & 0xFFFFu));
}

namespace win32_error {
constexpr Win32Error kSuccess = 0;
constexpr Win32Error kFileNotFound = 2;
constexpr Win32Error kPathNotFound = 3;
constexpr Win32Error kAccessDenied = 5;
constexpr Win32Error kInvalidHandle = 6;
constexpr Win32Error kNotEnoughMemory = 8;
constexpr Win32Error kSharingViolation = 32;
constexpr Win32Error kHandleDiskFull = 39;
constexpr Win32Error kFileExists = 80;
constexpr Win32Error kInvalidParameter = 87;
constexpr Win32Error kInsufficientBuffer = 122;
constexpr Win32Error kCallNotImplemented = 120;
constexpr Win32Error kBadPathname = 161;
constexpr Win32Error kModNotFound = 126;
constexpr Win32Error kProcNotFound = 127;
constexpr Win32Error kAlreadyExists = 183;
constexpr Win32Error kMoreData = 234;
constexpr Win32Error kNoMoreItems = 259;
constexpr Win32Error kNotOwner = 288;
constexpr Win32Error kMrMidNotFound = 317;
constexpr Win32Error kKeyDeleted = 1018;
constexpr Win32Error kServiceAlreadyRunning = 1056;
constexpr Win32Error kServiceDoesNotExist = 1060;
constexpr Win32Error kServiceNotActive = 1062;
constexpr Win32Error kFailedServiceControllerConnect = 1063;
constexpr Win32Error kServiceSpecificError = 1066;
constexpr Win32Error kServiceMarkedForDelete = 1072;
constexpr Win32Error kServiceExists = 1073;
constexpr Win32Error kInvalidWindowHandle = 1400;
constexpr Win32Error kTimeout = 1460;
}  // namespace win32_error

// What WaitForSingleObject answers.
namespace wait_result {
constexpr std::uint32_t kObject0 = 0;
constexpr std::uint32_t kMessage = 1;  // MsgWaitForMultipleObjects with one handle: input queued
constexpr std::uint32_t kAbandoned = 0x80;
constexpr std::uint32_t kTimeout = 258;
constexpr std::uint32_t kFailed = 0xFFFFFFFFu;
}  // namespace wait_result

constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// An opaque handle value of one kind; 0 means "none" for every kind (the Win32 backend maps
// INVALID_HANDLE_VALUE to 0 so callers have one test).
template <class Tag>
struct Handle {
  std::uintptr_t value = 0;
  constexpr explicit operator bool() const { return value != 0; }
  friend constexpr bool operator==(Handle a, Handle b) { return a.value == b.value; }
};

// Window handles travel through COM as 32-bit numbers (IService::Connect), so they are plain
// integers here, as wide as a pointer.
using WindowHandle = std::uintptr_t;

}  // namespace keldran
