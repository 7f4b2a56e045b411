#pragma once
// Wine's message texts, the message table read from its source, a per-thread last error, the
// debugger's output recorded and the Windows-1252 code page; no console.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system_texts.h"

namespace keldran::fake {

class FakeSystemTexts final : public ISystemTexts {
 public:
  // messageSource: the .mc file whose texts ModuleMessage formats; empty for none.
  explicit FakeSystemTexts(const std::string& messageSource);

  std::optional<std::string> SystemMessage(std::uint32_t code) override;
  std::optional<std::string> ModuleMessage(std::uint32_t id, const std::string& insert) override;
  Win32Error LastError() override;
  void SetLastError(Win32Error error) override;
  void OutputDebugString(const std::string& text) override;
  bool WriteStandardStream(Stream, const std::string&) override { return false; }
  std::string WideToAnsi(const WideString& text) override;
  WideString AnsiToWide(const std::string& text) override;
  // Windows-1252 has no lead bytes: one byte is one character.
  std::size_t CharNext(const std::string& text, std::size_t offset) override {
    return offset < text.size() ? offset + 1 : text.size();
  }

  std::vector<std::string> DebugOutput() const {
    std::lock_guard lock(mutex_);
    return debugOutput_;
  }

 private:
  std::map<std::uint32_t, std::string> moduleMessages_;
  mutable std::mutex mutex_;
  std::vector<std::string> debugOutput_;
};

}  // namespace keldran::fake
