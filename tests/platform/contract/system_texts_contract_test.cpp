#include <algorithm>

#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

using SystemTextsContractTest = ContractTest;

TEST_F(SystemTextsContractTest, SystemMessagesAreTheSystemsTextsWithTheirLineEndOrNone) {
  const std::pair<std::uint32_t, const char*> known[] = {
      {0, "Success."}, {5, "Access denied."}, {1460, "Timeout."}};
  for (const auto& [code, text] : known)
    EXPECT_EQ(p_.texts.SystemMessage(code), std::string(text) + "\r\n");
  // An unknown code has no text, and the last error says why.
  p_.texts.SetLastError(0);
  EXPECT_EQ(p_.texts.SystemMessage(0x2FFFF), std::nullopt);
  EXPECT_EQ(p_.texts.LastError(), win32_error::kMrMidNotFound);
}

TEST_F(SystemTextsContractTest, ModuleMessagesFillTheirInsert) {
  EXPECT_EQ(p_.texts.ModuleMessage(117, "/Bogus"), "Invalid command line parameter: /Bogus\r\n");
  // An insert is taken literally, even when it looks like an insertion point itself.
  EXPECT_EQ(p_.texts.ModuleMessage(1001, "100%1 sure"), "100%1 sure\r\n");
  EXPECT_EQ(p_.texts.ModuleMessage(99, "x"), std::nullopt);
}

TEST_F(SystemTextsContractTest, AnsiTextIsInTheAnsiCodePageOneByteACharacter) {
  // Code page 1252: e acute is one byte, 0xE9.
  EXPECT_EQ(p_.texts.WideToAnsi(u"caf\u00e9"), "caf\xe9");
  EXPECT_EQ(p_.texts.AnsiToWide("caf\xe9"), u"caf\u00e9");
  // Its bytes 0x80 to 0x9F: the euro sign's, and one that the code page leaves undefined.
  EXPECT_EQ(p_.texts.AnsiToWide("\x80\x81"), u"\u20ac\u0081");
  EXPECT_EQ(p_.texts.WideToAnsi(u"\u20ac\u0081"), "\x80\x81");
  EXPECT_EQ(p_.texts.AnsiToWide(""), u"");
  // CharNext steps one byte at a time and stays at the end.
  for (std::size_t at = 0; at <= 3; ++at)
    EXPECT_EQ(p_.texts.CharNext("a\xe9z", at), std::min<std::size_t>(at + 1, 3));
}

}  // namespace
}  // namespace keldran::contract
