#pragma once
// Turning error codes into the texts that log records, events and message boxes carry.

#include <cstdint>
#include <string>

#include "platform/system_texts.h"
#include "platform/types.h"

namespace keldran {

// The system text of a Win32 code (0: the thread's last error): optionally after two blank lines,
// the number part " Error: %i (0x%08X) " (or "%i (0x%08X) " without the word), then the system's
// message, optionally with trailing CR and LF removed.
std::string errorText(ISystemTexts& texts, std::uint32_t code, bool leadingBlankLines = true,
                      bool wordError = true, bool trimLineBreaks = true);

// "Error: " + codeText(hr) + " " + the message COM gives for the HRESULT.
std::string comErrorText(ISystemTexts& texts, HResult hr);

// The message COM's error object gives for an HRESULT: the system message without its final
// line break, "IDispatch error #n" for 0x80040200-0x8004FFFF, else "Unknown error 0x%0lX".
std::string comErrorMessage(ISystemTexts& texts, HResult hr);

// "%i (0x%08X)": the signed decimal and the hexadecimal of the same 32 bits.
std::string codeText(std::int32_t code);
std::string hexText(std::uint32_t value);
inline std::string hexText(std::int32_t value) {
  return hexText(static_cast<std::uint32_t>(value));
}

// What utility code throws when a call fails: an HRESULT and an optional text.
class UtilError {
 public:
  explicit UtilError(HResult code, std::u16string text = {})
      : code_(code), text_(std::move(text)) {}
  HResult code() const { return code_; }
  // The thrower's text, or the system's message for the code when there is none.
  std::string text(ISystemTexts& texts) const;

 private:
  HResult code_;
  std::u16string text_;
};

// Throws a UtilError with the code when it is a failure.
void throwIfFailed(HResult hr);
// Throws a UtilError with the code.
[[noreturn]] void throwError(HResult hr = kEFail);

// printf into a std::string (GCC 12 has no <format>).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace keldran
