#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

using PathsContractTest = ContractTest;

TEST_F(PathsContractTest, CanonicalizeResolvesDotsAndKeepsTheRest) {
  IFileSystem& f = p_.files;
  EXPECT_EQ(f.PathCanonicalize("C:\\a\\b\\..\\c"), "C:\\a\\c");
  EXPECT_EQ(f.PathCanonicalize("C:\\a\\.\\b"), "C:\\a\\b");
  EXPECT_EQ(f.PathCanonicalize("C:\\a\\b\\.."), "C:\\a");
  EXPECT_EQ(f.PathCanonicalize("C:\\a\\b\\"), "C:\\a\\b\\");
  EXPECT_EQ(f.PathCanonicalize("C:\\.."), "C:\\");
  // Wine leaves a final single dot and trailing dots of a name alone, and a relative path that
  // climbs out of its first part is left rooted.
  EXPECT_EQ(f.PathCanonicalize("C:\\a\\b\\."), "C:\\a\\b\\.");
  EXPECT_EQ(f.PathCanonicalize("C:\\a\\b..."), "C:\\a\\b...");
  EXPECT_EQ(f.PathCanonicalize("a\\..\\b"), "\\b");
}

TEST_F(PathsContractTest, CombineJoinsRelativeAndTakesAbsoluteSecondParts) {
  IFileSystem& f = p_.files;
  EXPECT_EQ(f.PathCombine("C:\\dir", "file.txt"), "C:\\dir\\file.txt");
  EXPECT_EQ(f.PathCombine("C:\\dir\\", "file.txt"), "C:\\dir\\file.txt");
  EXPECT_EQ(f.PathCombine("C:\\dir", "D:\\abs\\f.txt"), "D:\\abs\\f.txt");
  EXPECT_EQ(f.PathCombine("C:\\dir\\sub", "..\\x"), "C:\\dir\\x");
  EXPECT_EQ(f.PathCombine("C:\\dir", "\\root.txt"), "C:\\root.txt");
  EXPECT_EQ(f.PathCombine("C:\\dir", ""), "C:\\dir");
}

TEST_F(PathsContractTest, QuotingOnlyTouchesPathsWithSpaces) {
  IFileSystem& f = p_.files;
  EXPECT_EQ(f.PathQuoteSpaces("C:\\Program Files\\x.exe"), "\"C:\\Program Files\\x.exe\"");
  EXPECT_EQ(f.PathQuoteSpaces("C:\\x.exe"), "C:\\x.exe");
  EXPECT_EQ(f.PathUnquoteSpaces("\"C:\\Program Files\\x.exe\""), "C:\\Program Files\\x.exe");
  EXPECT_EQ(f.PathUnquoteSpaces("C:\\x.exe"), "C:\\x.exe");
  EXPECT_EQ(f.PathUnquoteSpaces("\"C:\\x.exe"), "\"C:\\x.exe");
}

TEST_F(PathsContractTest, RemoveArgsKeepsTheProgramQuotedOrNot) {
  IFileSystem& f = p_.files;
  EXPECT_EQ(f.PathRemoveArgs("\"C:\\Program Files\\x.exe\" /a \"b c\""),
            "\"C:\\Program Files\\x.exe\"");
  EXPECT_EQ(f.PathRemoveArgs("C:\\x.exe /a /b"), "C:\\x.exe");
  EXPECT_EQ(f.PathRemoveArgs("C:\\x.exe"), "C:\\x.exe");
}

TEST_F(PathsContractTest, FileSpecNameAndExtension) {
  IFileSystem& f = p_.files;
  EXPECT_EQ(f.PathRemoveFileSpec("C:\\dir\\file.txt"), "C:\\dir");
  EXPECT_EQ(f.PathRemoveFileSpec("C:\\file.txt"), "C:\\");
  EXPECT_EQ(f.PathRemoveFileSpec("file.txt"), "");

  EXPECT_EQ(f.PathFindFileName("C:\\dir\\file.txt"), 7u);
  EXPECT_EQ(f.PathFindFileName("file.txt"), 0u);
  EXPECT_EQ(f.PathFindExtension("C:\\dir\\file.txt"), 11u);
  EXPECT_EQ(f.PathFindExtension("C:\\dir\\archive.tar.gz"), 18u);
  // A dot in a folder name is no extension.
  EXPECT_EQ(f.PathFindExtension("C:\\dir.d\\file"), 13u);
}

}  // namespace
}  // namespace keldran::contract
