#pragma once
// System message texts, the program's own message table, the thread's last-error value, the
// debugger output, the console that started the program, and the ANSI code page.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/types.h"

namespace keldran {

class ISystemTexts {
 public:
  virtual ~ISystemTexts() = default;

  // FormatMessageA from the system, language 0x400, into 1024 characters; none when the system
  // has no text for the code.
  virtual std::optional<std::string> SystemMessage(std::uint32_t code) = 0;
  // FormatMessageA from the program's own message table with one insertion string (argument
  // array), language 0x400, into 40960 characters; none when the table lacks the id.
  virtual std::optional<std::string> ModuleMessage(std::uint32_t id, const std::string& insert) = 0;

  virtual Win32Error LastError() = 0;
  virtual void SetLastError(Win32Error error) = 0;

  virtual void OutputDebugString(const std::string& text) = 0;
  // Writes to the standard output or error that the program was started with, or to the console
  // of the process that started it; false when there is neither (a service, an installer).
  enum class Stream { kOutput, kError };
  virtual bool WriteStandardStream(Stream stream, const std::string& text) = 0;

  // The system's ANSI code page.
  virtual std::string WideToAnsi(const WideString& text) = 0;
  virtual WideString AnsiToWide(const std::string& text) = 0;
  // CharNextA: the offset of the character after the one at offset, aware of double-byte
  // lead bytes.
  virtual std::size_t CharNext(const std::string& text, std::size_t offset) = 0;
};

}  // namespace keldran
