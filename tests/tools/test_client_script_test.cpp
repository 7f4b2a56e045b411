// The test client's numbers: 32 bits on every platform, and the whole text or nothing.
#include <gtest/gtest.h>

#include <string>

#include "script.h"

namespace keldran::client {
namespace {

using namespace std::string_literals;

TEST(TestClientScriptTest, NumbersAre32BitsWideAndMakeUpTheWholeText) {
  EXPECT_EQ(ParseNumber(" -2147483648 "), -2147483648L);
  EXPECT_EQ(ParseNumber("2147483647"), 2147483647L);
  EXPECT_EQ(ParseNumber("0x80004005"), -2147467259L);  // a pattern: negative as on Windows
  EXPECT_EQ(ParseNumber("0xFFFFFFFF"), -1L);
  for (const std::string& text : {"2147483648"s, "-2147483649"s, "0x100000005"s, "5\0"s, "\0"s,
                                  "\0 7"s, "0x1\0"s, "5x"s, ""s, " "s}) {
    EXPECT_EQ(ParseNumber(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace keldran::client
