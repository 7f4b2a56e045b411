#pragma once
// System texts for the fake backend: Wine's message texts, the program's own message table
// read from its source file, a per-thread last error, recorded debugger output and the
// Windows-1252 code page.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system_texts.h"

namespace keldran::fake {

class FakeSystemTexts final : public ISystemTexts {
 public:
  // messageSource: the message-table source (.mc) whose texts ModuleMessage formats; empty for
  // none.
  explicit FakeSystemTexts(const std::string& messageSource);

  std::optional<std::string> SystemMessage(std::uint32_t code) override;
  std::optional<std::string> ModuleMessage(std::uint32_t id, const std::string& insert) override;
  Win32Error LastError() override;
  void SetLastError(Win32Error error) override;
  void OutputDebugString(const std::string& text) override;
  bool WriteStandardStream(Stream stream, const std::string& text) override;
  std::string WideToAnsi(const WideString& text) override;
  WideString AnsiToWide(const std::string& text) override;
  std::size_t CharNext(const std::string& text, std::size_t offset) override;

  // What went to standard output and error; with no console (the default) nothing goes there.
  void SetConsole(bool attached);
  std::string StandardOutput() const;
  std::string StandardError() const;
  // Everything sent to the debugger, in order.
  std::vector<std::string> DebugOutput() const;
  void ClearDebugOutput();

 private:
  std::map<std::uint32_t, std::string> moduleMessages_;
  mutable std::mutex mutex_;
  std::vector<std::string> debugOutput_;
  bool console_ = false;
  std::string standard_[2];
};

}  // namespace keldran::fake
