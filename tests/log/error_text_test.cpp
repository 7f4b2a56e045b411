// The texts that error codes become: the system message without its trailing line breaks,
// whatever their mixture. (Their other forms: error_text_contract_test.)
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "log/error_text.h"
#include "platform/system_texts.h"

namespace keldran {
namespace {

// System texts whose every system message is the scripted one: all that errorText asks for.
struct ScriptedTexts final : ISystemTexts {
  explicit ScriptedTexts(std::string text) : message(std::move(text)) {}
  std::optional<std::string> SystemMessage(std::uint32_t) override { return message; }
  std::optional<std::string> ModuleMessage(std::uint32_t, const std::string&) override {
    return std::nullopt;
  }
  Win32Error LastError() override { return 0; }
  void SetLastError(Win32Error) override {}
  void OutputDebugString(const std::string&) override {}
  bool WriteStandardStream(Stream, const std::string&) override { return false; }
  std::string WideToAnsi(const WideString&) override { return {}; }
  WideString AnsiToWide(const std::string&) override { return {}; }
  std::size_t CharNext(const std::string&, std::size_t offset) override { return offset + 1; }
  std::string message;
};

TEST(ErrorTextTest, TrimmingRemovesAnyMixtureOfTrailingBreaks) {
  ScriptedTexts scripted("Broken.\r\n\n\r\r\n");
  EXPECT_EQ(errorText(scripted, 7), "\r\n\r\n Error: 7 (0x00000007) Broken.");
  // Trailing blanks are not line breaks.
  ScriptedTexts blanks("Broken. \r\n");
  EXPECT_EQ(errorText(blanks, 7), "\r\n\r\n Error: 7 (0x00000007) Broken. ");
  // A message of line breaks only leaves the number part with its blank.
  ScriptedTexts empty("\r\n");
  EXPECT_EQ(errorText(empty, 7, false), " Error: 7 (0x00000007) ");
}

}  // namespace
}  // namespace keldran
