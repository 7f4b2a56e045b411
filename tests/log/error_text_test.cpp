// The texts that error codes become: Win32 codes with their options, HRESULTs in the COM
// error object's wording, and the plain number forms.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "log/error_text.h"
#include "platform/fake/fake_system_texts.h"

namespace keldran {
namespace {

// The fake's texts, except that one code's system message is scripted.
class ScriptedTexts final : public ISystemTexts {
 public:
  ScriptedTexts(std::uint32_t code, std::string message) : code_(code), message_(message) {}
  std::optional<std::string> SystemMessage(std::uint32_t code) override {
    return code == code_ ? std::optional(message_) : base_.SystemMessage(code);
  }
  std::optional<std::string> ModuleMessage(std::uint32_t id, const std::string& s) override {
    return base_.ModuleMessage(id, s);
  }
  Win32Error LastError() override { return base_.LastError(); }
  void SetLastError(Win32Error e) override { base_.SetLastError(e); }
  void OutputDebugString(const std::string& t) override { base_.OutputDebugString(t); }
  bool WriteStandardStream(Stream s, const std::string& t) override {
    return base_.WriteStandardStream(s, t);
  }
  std::string WideToAnsi(const WideString& t) override { return base_.WideToAnsi(t); }
  WideString AnsiToWide(const std::string& t) override { return base_.AnsiToWide(t); }
  std::size_t CharNext(const std::string& t, std::size_t o) override {
    return base_.CharNext(t, o);
  }

 private:
  fake::FakeSystemTexts base_{""};
  std::uint32_t code_;
  std::string message_;
};

TEST(ErrorTextTest, TrimmingRemovesAnyMixtureOfTrailingBreaks) {
  ScriptedTexts scripted(7, "Broken.\r\n\n\r\r\n");
  EXPECT_EQ(errorText(scripted, 7), "\r\n\r\n Error: 7 (0x00000007) Broken.");
  // Trailing blanks are not line breaks.
  ScriptedTexts blanks(7, "Broken. \r\n");
  EXPECT_EQ(errorText(blanks, 7), "\r\n\r\n Error: 7 (0x00000007) Broken. ");
  // A message of line breaks only leaves the number part with its blank.
  ScriptedTexts empty(7, "\r\n");
  EXPECT_EQ(errorText(empty, 7, false), " Error: 7 (0x00000007) ");
}

TEST(ErrorTextTest, NumberForms) {
  EXPECT_EQ(codeText(static_cast<std::int32_t>(0x80070005u)), "-2147024891 (0x80070005)");
  EXPECT_EQ(codeText(kEFail), "-2147467259 (0x80004005)");
  EXPECT_EQ(codeText(42), "42 (0x0000002A)");
  EXPECT_EQ(hexText(-1), "0xFFFFFFFF");
  EXPECT_EQ(hexText(0x1Fu), "0x0000001F");
}

}  // namespace
}  // namespace keldran
