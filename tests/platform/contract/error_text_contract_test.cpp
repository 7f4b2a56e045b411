// The texts that error codes become, from the system's own messages: the same checks on the
// fake and, under Wine, on the real FormatMessage.
#include "log/error_text.h"
#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

class ErrorTextContractTest : public ContractTest {
 protected:
  ISystemTexts& texts = p_.texts;
};

TEST_F(ErrorTextContractTest, ErrorTextJoinsItsOptionalPartsToTheSystemMessage) {
  EXPECT_EQ(errorText(texts, 5), "\r\n\r\n Error: 5 (0x00000005) Access denied.");
  EXPECT_EQ(errorText(texts, 5, false, true, true), " Error: 5 (0x00000005) Access denied.");
  EXPECT_EQ(errorText(texts, 5, true, false, true), "\r\n\r\n5 (0x00000005) Access denied.");
  EXPECT_EQ(errorText(texts, 5, true, true, false),
            "\r\n\r\n Error: 5 (0x00000005) Access denied.\r\n");
  EXPECT_EQ(errorText(texts, 0x80070005u),
            "\r\n\r\n Error: -2147024891 (0x80070005) Access denied.");
  // An unknown code gives the number part once.
  EXPECT_EQ(errorText(texts, 0x12345678), "\r\n\r\n Error: 305419896 (0x12345678) ");
  // Zero means the last error.
  texts.SetLastError(32);
  EXPECT_EQ(errorText(texts, 0), "\r\n\r\n Error: 32 (0x00000020) Sharing violation.");
}

TEST_F(ErrorTextContractTest, ComErrorTextUsesTheSystemMessageElseNamesTheCode) {
  EXPECT_EQ(comErrorText(texts, kEFail), "Error: -2147467259 (0x80004005) Call failed.");
  EXPECT_EQ(comErrorText(texts, static_cast<HResult>(0x80040200u)),
            "Error: -2147220992 (0x80040200) IDispatch error #0");
  EXPECT_EQ(comErrorMessage(texts, static_cast<HResult>(0x8004FFFFu)), "IDispatch error #65023");
  EXPECT_EQ(comErrorMessage(texts, static_cast<HResult>(0x800401FFu)), "Unknown error 0x800401FF");
  EXPECT_EQ(comErrorMessage(texts, static_cast<HResult>(0x80050000u)), "Unknown error 0x80050000");
}

TEST_F(ErrorTextContractTest, UtilErrorCarriesItsCodeAndFallsBackToTheSystemText) {
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
}  // namespace keldran::contract
