// ISystemTexts: FormatMessageA from the system and from the program's message table, the last
// error, debugger output, the standard streams and the ANSI code page.
#include <mutex>

#include "platform/win32/backend.h"

namespace keldran::win32 {

std::wstring ToWide(std::string_view text) {
  if (text.empty()) return std::wstring();
  int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string ToAnsi(std::wstring_view text) {
  if (text.empty()) return std::string();
  int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(), n,
                        nullptr, nullptr);
  return ansi;
}

namespace {

constexpr DWORD kUserDefaultLanguage = 0x400;
constexpr DWORD kSystemMessageSize = 1024;
constexpr DWORD kModuleMessageSize = 40960;
// Wine's FormatMessageA refuses sizes from 32768 up with ERROR_INVALID_PARAMETER (Windows takes
// up to 64 KB), so the call is told less than the buffer holds.
constexpr DWORD kFormatMessageLimit = 32767;

class SystemTexts final : public ISystemTexts {
 public:
  explicit SystemTexts(HMODULE messageModule) : messageModule_(messageModule) {}

  std::optional<std::string> SystemMessage(std::uint32_t code) override {
    char buffer[kSystemMessageSize];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               code, kUserDefaultLanguage, buffer, kSystemMessageSize, nullptr);
    if (n == 0) return std::nullopt;
    return std::string(buffer, n);
  }

  std::optional<std::string> ModuleMessage(std::uint32_t id, const std::string& insert) override {
    std::vector<char> buffer(kModuleMessageSize);
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insert.c_str())};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               messageModule_, id, kUserDefaultLanguage, buffer.data(),
                               kFormatMessageLimit, reinterpret_cast<va_list*>(arguments));
    if (n == 0) return std::nullopt;
    return std::string(buffer.data(), n);
  }

  Win32Error LastError() override { return ::GetLastError(); }
  void SetLastError(Win32Error error) override { ::SetLastError(error); }

  void OutputDebugString(const std::string& text) override { ::OutputDebugStringA(text.c_str()); }

  bool WriteStandardStream(Stream stream, const std::string& text) override {
    const DWORD which = stream == Stream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
    HANDLE handle = ::GetStdHandle(which);
    // A windows program started from a console has no standard handles of its own unless they
    // were redirected: it borrows its parent's console, once.
    if (!handle || handle == INVALID_HANDLE_VALUE) {
      std::call_once(attach_, [] { ::AttachConsole(ATTACH_PARENT_PROCESS); });
      handle = ::GetStdHandle(which);
    }
    if (!handle || handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    return ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }

  std::string WideToAnsi(const WideString& text) override {
    return ToAnsi(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
  }

  WideString AnsiToWide(const std::string& text) override {
    std::wstring wide = ToWide(text);
    return WideString(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
  }

  std::size_t CharNext(const std::string& text, std::size_t offset) override {
    if (offset >= text.size()) return text.size();
    const char* next = ::CharNextA(text.c_str() + offset);
    return static_cast<std::size_t>(next - text.c_str());
  }

 private:
  HMODULE messageModule_;
  std::once_flag attach_;
};

}  // namespace

std::unique_ptr<ISystemTexts> MakeSystemTexts(HMODULE messageModule) {
  return std::make_unique<SystemTexts>(messageModule);
}

}  // namespace keldran::win32
