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

class ErrorTextTest : public ::testing::Test {
 protected:
  fake::FakeSystemTexts texts{""};
};

TEST_F(ErrorTextTest, CodeFiveWithAllOptions) {
  EXPECT_EQ(errorText(texts, 5), "\r\n\r\n Error: 5 (0x00000005) Access denied.");
}

TEST_F(ErrorTextTest, ZeroMeansTheLastError) {
  texts.SetLastError(0);
  EXPECT_EQ(errorText(texts, 0), "\r\n\r\n Error: 0 (0x00000000) Success.");
  texts.SetLastError(32);
  EXPECT_EQ(errorText(texts, 0), "\r\n\r\n Error: 32 (0x00000020) Sharing violation.");
}

TEST_F(ErrorTextTest, UnknownCodeGivesTheNumberPartOnce) {
  EXPECT_EQ(errorText(texts, 0x12345678), "\r\n\r\n Error: 305419896 (0x12345678) ");
  EXPECT_EQ(errorText(texts, 0x12345678, false, false, false), "305419896 (0x12345678) ");
}

TEST_F(ErrorTextTest, EachOptionChangesOnlyItsPart) {
  EXPECT_EQ(errorText(texts, 5, false, true, true), " Error: 5 (0x00000005) Access denied.");
  EXPECT_EQ(errorText(texts, 5, true, false, true), "\r\n\r\n5 (0x00000005) Access denied.");
  EXPECT_EQ(errorText(texts, 5, true, true, false),
            "\r\n\r\n Error: 5 (0x00000005) Access denied.\r\n");
  EXPECT_EQ(errorText(texts, 5, false, false, false), "5 (0x00000005) Access denied.\r\n");
}

TEST_F(ErrorTextTest, NegativeCodesShowSignedAndHex) {
  EXPECT_EQ(errorText(texts, 0x80070005u),
            "\r\n\r\n Error: -2147024891 (0x80070005) Access denied.");
}

TEST_F(ErrorTextTest, TrimmingRemovesAnyMixtureOfTrailingBreaks) {
  ScriptedTexts scripted(7, "Broken.\r\n\n\r\r\n");
  EXPECT_EQ(errorText(scripted, 7), "\r\n\r\n Error: 7 (0x00000007) Broken.");
  // Trailing blanks are not line breaks.
  ScriptedTexts blanks(7, "Broken. \r\n");
  EXPECT_EQ(errorText(blanks, 7), "\r\n\r\n Error: 7 (0x00000007) Broken. ");
  // A message of line breaks only leaves the number part with its blank.
  ScriptedTexts empty(7, "\r\n");
  EXPECT_EQ(errorText(empty, 7, false), " Error: 7 (0x00000007) ");
}

TEST_F(ErrorTextTest, ComErrorTextUsesTheSystemMessageWhenThereIsOne) {
  EXPECT_EQ(comErrorText(texts, kEFail), "Error: -2147467259 (0x80004005) Call failed.");
  EXPECT_EQ(comErrorText(texts, 0), "Error: 0 (0x00000000) Success.");
}

TEST_F(ErrorTextTest, ComErrorTextNamesDispatchErrorsByNumber) {
  EXPECT_EQ(comErrorText(texts, static_cast<HResult>(0x80040200u)),
            "Error: -2147220992 (0x80040200) IDispatch error #0");
  EXPECT_EQ(comErrorMessage(texts, static_cast<HResult>(0x80040201u)), "IDispatch error #1");
  EXPECT_EQ(comErrorMessage(texts, static_cast<HResult>(0x8004FFFFu)), "IDispatch error #65023");
}

TEST_F(ErrorTextTest, ComErrorTextCallsOtherCodesUnknownInShortHex) {
  EXPECT_EQ(comErrorMessage(texts, static_cast<HResult>(0x800401FFu)), "Unknown error 0x800401FF");
  EXPECT_EQ(comErrorMessage(texts, static_cast<HResult>(0x80050000u)), "Unknown error 0x80050000");
  EXPECT_EQ(comErrorMessage(texts, 0xBEEF), "Unknown error 0xBEEF");
}

TEST_F(ErrorTextTest, NumberForms) {
  EXPECT_EQ(codeText(static_cast<std::int32_t>(0x80070005u)), "-2147024891 (0x80070005)");
  EXPECT_EQ(codeText(kEFail), "-2147467259 (0x80004005)");
  EXPECT_EQ(codeText(42), "42 (0x0000002A)");
  EXPECT_EQ(hexText(-1), "0xFFFFFFFF");
  EXPECT_EQ(hexText(0x1Fu), "0x0000001F");
}

TEST_F(ErrorTextTest, UtilErrorCarriesItsCodeAndFallsBackToTheSystemText) {
  try {
    throwIfFailed(kSFalse);
    throwIfFailed(static_cast<HResult>(0x80070005u));
    FAIL() << "no throw";
  } catch (const UtilError& e) {
    EXPECT_EQ(e.code(), static_cast<HResult>(0x80070005u));
    EXPECT_EQ(e.text(texts), "Access denied.");
  }
  EXPECT_EQ(UtilError(kEFail, u"Own words").text(texts), "Own words");
  EXPECT_THROW(throwError(), UtilError);
}

}  // namespace
}  // namespace keldran
