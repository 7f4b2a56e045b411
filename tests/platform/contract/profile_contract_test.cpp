#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

using namespace std::string_literals;

class ProfileContractTest : public ContractTest {
 protected:
  // A file of exactly this content in a scratch directory; returns its path.
  std::string Ini(const std::string& content) {
    std::string path = backend_->ScratchDirectory() + "test.ini";
    WriteFile(path, content);
    return path;
  }

  std::string String(const std::string& file, const std::optional<std::string>& section,
                     const std::optional<std::string>& key, std::uint32_t size = 260,
                     const std::string& defaultValue = "dflt") {
    std::string out;
    std::uint32_t n = p_.files.GetProfileString(file, section, key, defaultValue, size, &out);
    EXPECT_EQ(n, out.size());
    return out;
  }

  std::string Section(const std::string& file, const std::string& section,
                      std::uint32_t size = 1024) {
    std::string out;
    std::uint32_t n = p_.files.GetProfileSection(file, section, size, &out);
    EXPECT_EQ(n, out.size());
    return out;
  }
};

TEST_F(ProfileContractTest, SectionAndKeyNamesIgnoreCase) {
  std::string ini = Ini("[Service]\r\nCommandLine=run.exe\r\n");
  EXPECT_EQ(String(ini, "SERVICE", "commandline"), "run.exe");
  EXPECT_EQ(String(ini, "service", "COMMANDLINE"), "run.exe");
}

TEST_F(ProfileContractTest, MissingKeySectionOrFileGiveTheDefault) {
  std::string ini = Ini("[Service]\r\nKey=value\r\n");
  EXPECT_EQ(String(ini, "Service", "Other"), "dflt");
  EXPECT_EQ(String(ini, "Elsewhere", "Key"), "dflt");
  EXPECT_EQ(String(backend_->ScratchDirectory() + "missing.ini", "Service", "Key"), "dflt");
  EXPECT_EQ(String(ini, "Service", "Other", 260, ""), "");
  EXPECT_EQ(p_.files.GetProfileInt(ini, "Service", "Other", 42), 42u);
  EXPECT_EQ(Section(backend_->ScratchDirectory() + "missing.ini", "Service"), "");
}

TEST_F(ProfileContractTest, WholeSectionAndKeyListsAreNulSeparated) {
  std::string ini = Ini("[Service]\r\nA=1\r\nB=two\r\n[Other]\r\nC=3\r\n");
  EXPECT_EQ(Section(ini, "service"), "A=1\0B=two\0"s);
  EXPECT_EQ(String(ini, "Service", std::nullopt), "A\0B\0"s);
  EXPECT_EQ(String(ini, std::nullopt, std::nullopt), "Service\0Other\0"s);
}

TEST_F(ProfileContractTest, SurroundingQuotesAreRemovedFromValues) {
  std::string ini =
      Ini("[S]\r\nDouble=\"a b\"\r\nSingle='c d'\r\nMixed=\"e f'\r\nInner=g \"h\" i\r\n"
          "Open=\"j\r\n");
  EXPECT_EQ(String(ini, "S", "Double"), "a b");
  EXPECT_EQ(String(ini, "S", "Single"), "c d");
  EXPECT_EQ(String(ini, "S", "Mixed"), "\"e f'");
  EXPECT_EQ(String(ini, "S", "Inner"), "g \"h\" i");
  EXPECT_EQ(String(ini, "S", "Open"), "\"j");
}

TEST_F(ProfileContractTest, CommentLinesAndBlanksAroundNamesAndValues) {
  std::string ini = Ini(
      "; a comment\r\n[S]\r\n;Key=commented\r\n  Key  =  spaced value  \r\n\r\nTab\t=\tx\t\r\n");
  EXPECT_EQ(String(ini, "S", "Key"), "spaced value");
  EXPECT_EQ(String(ini, "S", "Tab"), "x");
  // A comment line is still found by its exact name, but no list shows it.
  EXPECT_EQ(String(ini, "S", ";Key"), "commented");
  EXPECT_EQ(String(ini, "S", std::nullopt), "Key\0Tab\0"s);
  EXPECT_EQ(Section(ini, "S"), "Key=spaced value\0Tab=x\0"s);
}

TEST_F(ProfileContractTest, LineEndsMayBeCrLfOrLf) {
  std::string crlf = Ini("[S]\r\nA=1\r\nB=2\r\n");
  std::string lf = backend_->ScratchDirectory() + "lf.ini";
  WriteFile(lf, "[S]\nA=1\nB=2\n");
  EXPECT_EQ(String(lf, "S", "B"), "2");
  EXPECT_EQ(Section(lf, "S"), Section(crlf, "S"));
}

TEST_F(ProfileContractTest, FirstOfDuplicateKeysWins) {
  std::string ini = Ini("[S]\r\nK=first\r\nK=second\r\n[S]\r\nK=third\r\n");
  EXPECT_EQ(String(ini, "S", "K"), "first");
}

TEST_F(ProfileContractTest, ResultsAreCutAtTheBufferSize) {
  std::string ini = Ini("[S]\r\nK=abcdefghij\r\nLonger=1\r\n");
  EXPECT_EQ(String(ini, "S", "K", 5), "abcd");
  EXPECT_EQ(String(ini, "S", "K", 11), "abcdefghij");
  EXPECT_EQ(String(ini, "S", "Missing", 3, "defaultvalue"), "de");
  // Lists keep room for their final NUL: the count is the size less two.
  EXPECT_EQ(String(ini, "S", std::nullopt, 5), "K\0L"s);
  EXPECT_EQ(Section(ini, "S", 8), "K=abcd"s);
}

TEST_F(ProfileContractTest, IntegersReadTheLeadingDigits) {
  std::string ini =
      Ini("[S]\r\nNegative=-5\r\nBlanks=   7\r\nTrailing=5s\r\nHex=0x10\r\nWord=abc\r\nEmpty=\r\n");
  EXPECT_EQ(p_.files.GetProfileInt(ini, "S", "Negative", 1), static_cast<std::uint32_t>(-5));
  EXPECT_EQ(p_.files.GetProfileInt(ini, "S", "Blanks", 1), 7u);
  EXPECT_EQ(p_.files.GetProfileInt(ini, "S", "Trailing", 1), 5u);
  EXPECT_EQ(p_.files.GetProfileInt(ini, "S", "Hex", 1), 16u);
  EXPECT_EQ(p_.files.GetProfileInt(ini, "S", "Word", 1), 0u);
  EXPECT_EQ(p_.files.GetProfileInt(ini, "S", "Empty", 1), 1u);
  EXPECT_EQ(p_.files.GetProfileInt(ini, "S", "Missing", -3), static_cast<std::uint32_t>(-3));
}

}  // namespace
}  // namespace keldran::contract
