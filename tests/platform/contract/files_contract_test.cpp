#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

constexpr std::uint32_t kRead = file_access::kGenericRead, kWrite = file_access::kGenericWrite;
constexpr std::uint32_t kShareRead = file_share::kRead,
                        kShareBoth = kShareRead | file_share::kWrite;

class FilesContractTest : public ContractTest {
 protected:
  FilesContractTest() : dir_(backend_->ScratchDirectory()) {}

  Win32Error Open(const std::string& path, std::uint32_t access, std::uint32_t share,
                  ScopedFile* file, std::uint32_t creation = file_creation::kOpenExisting) {
    return p_.files.CreateFile(path, access, share, creation, file_attribute::kNormal, file->put());
  }

  std::string dir_;
};

TEST_F(FilesContractTest, AppendingAtTheEndOfAnOpenedFile) {
  std::string path = dir_ + "log.txt";
  WriteFile(path, "hello");
  {
    ScopedFile file(p_.files);
    ASSERT_EQ(Open(path, kWrite, kShareRead, &file, file_creation::kOpenAlways), 0u);
    ASSERT_EQ(p_.files.SetFilePointer(file.get(), 0, file_move::kEnd), 0u);
    std::uint32_t written = 0;
    ASSERT_EQ(p_.files.WriteFile(file.get(), " world", 6, &written), 0u);
    ASSERT_EQ(p_.files.FlushFileBuffers(file.get()), 0u);
    std::uint64_t size = 0;
    ASSERT_EQ(p_.files.GetFileSize(file.get(), &size), 0u);
    EXPECT_EQ(size, 11u);
  }
  EXPECT_EQ(ReadFile(path), "hello world");
}

TEST_F(FilesContractTest, SharingDecidesWhoElseMayOpen) {
  std::string path = dir_ + "shared.txt";
  WriteFile(path, "x");
  ScopedFile writer(p_.files), second(p_.files), exclusive(p_.files);
  ASSERT_EQ(Open(path, kWrite, kShareRead, &writer), 0u);
  EXPECT_EQ(Open(path, kWrite, kShareBoth, &second), win32_error::kSharingViolation);
  EXPECT_FALSE(second);
  // A reader must itself allow the writer that is already there.
  EXPECT_EQ(Open(path, kRead, kShareRead, &second), win32_error::kSharingViolation);
  EXPECT_EQ(Open(path, kRead, kShareBoth, &second), 0u);
  EXPECT_EQ(Open(path, kRead, file_share::kNone, &exclusive, file_creation::kCreateNew),
            win32_error::kFileExists);
}

TEST_F(FilesContractTest, CopyCanRefuseToOverwriteAndAMoveReplacesTheTargetWhole) {
  WriteFile(dir_ + "a.txt", "source");
  WriteFile(dir_ + "b.txt", "target");
  EXPECT_EQ(p_.files.CopyFile(dir_ + "a.txt", dir_ + "b.txt", true), win32_error::kFileExists);
  EXPECT_EQ(ReadFile(dir_ + "b.txt"), "target");
  EXPECT_EQ(p_.files.CopyFile(dir_ + "a.txt", dir_ + "b.txt", false), 0u);
  EXPECT_EQ(ReadFile(dir_ + "b.txt"), "source");

  WriteFile(dir_ + "new.tmp", "new");
  EXPECT_EQ(p_.files.MoveFileReplacing(dir_ + "new.tmp", dir_ + "b.txt"), 0u);
  EXPECT_EQ(ReadFile(dir_ + "b.txt"), "new");
  EXPECT_FALSE(p_.files.PathFileExists(dir_ + "new.tmp"));
  WriteFile(dir_ + "new.tmp", "new");
  EXPECT_EQ(p_.files.MoveFileReplacing(dir_ + "new.tmp", dir_ + "no\\such\\file.prom"),
            win32_error::kPathNotFound);
}

TEST_F(FilesContractTest, ExistenceAttributesAndDeletionOfFilesAndDirectories) {
  std::string path = dir_ + "file.txt";
  WriteFile(path, "x");
  EXPECT_TRUE(p_.files.PathFileExists(path));
  EXPECT_NE(p_.files.GetFileAttributes(dir_) & file_attribute::kDirectory, 0u);
  ASSERT_EQ(p_.files.CreateDirectory(dir_ + "sub"), 0u);
  EXPECT_EQ(p_.files.CreateDirectory(dir_ + "sub"), win32_error::kAlreadyExists);

  // Whether the flag then stops writers depends on the account (Wine run as root writes
  // anyway), so only the flag itself is part of the contract.
  ASSERT_EQ(p_.files.SetFileAttributes(path, file_attribute::kReadOnly), 0u);
  EXPECT_NE(p_.files.GetFileAttributes(path) & file_attribute::kReadOnly, 0u);
  ASSERT_EQ(p_.files.SetFileAttributes(path, file_attribute::kNormal), 0u);

  WideString wide = p_.texts.AnsiToWide(path);
  EXPECT_EQ(p_.files.DeleteFile(wide), 0u);
  EXPECT_FALSE(p_.files.PathFileExists(path));
  EXPECT_EQ(p_.files.DeleteFile(wide), win32_error::kFileNotFound);
  for (const auto& [missing, expected] : {std::pair{path, win32_error::kFileNotFound},
                                          {dir_ + "no\\such.txt", win32_error::kPathNotFound}}) {
    Win32Error error = 0;
    EXPECT_EQ(p_.files.GetFileAttributes(missing, &error), file_attribute::kInvalid);
    EXPECT_EQ(error, expected) << missing;
  }
}

}  // namespace
}  // namespace keldran::contract
