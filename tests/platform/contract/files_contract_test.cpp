#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

class FilesContractTest : public ContractTest {
 protected:
  FilesContractTest() : dir_(backend_->ScratchDirectory()) {}

  Win32Error Open(const std::string& path, std::uint32_t access, std::uint32_t share,
                  std::uint32_t creation, ScopedFile* file) {
    return p_.files.CreateFile(path, access, share, creation, file_attribute::kNormal, file->put());
  }

  std::string dir_;
};

TEST_F(FilesContractTest, AppendingAtTheEndOfAnOpenedFile) {
  std::string path = dir_ + "log.txt";
  WriteFile(path, "hello");
  {
    ScopedFile file(p_.files);
    ASSERT_EQ(Open(path, file_access::kGenericWrite, file_share::kRead, file_creation::kOpenAlways,
                   &file),
              0u);
    ASSERT_EQ(p_.files.SetFilePointer(file.get(), 0, file_move::kEnd), 0u);
    std::uint32_t written = 0;
    ASSERT_EQ(p_.files.WriteFile(file.get(), " world", 6, &written), 0u);
    EXPECT_EQ(written, 6u);
    ASSERT_EQ(p_.files.FlushFileBuffers(file.get()), 0u);
    std::uint64_t size = 0;
    ASSERT_EQ(p_.files.GetFileSize(file.get(), &size), 0u);
    EXPECT_EQ(size, 11u);
  }
  EXPECT_EQ(ReadFile(path), "hello world");

  // Open-always creates what is missing.
  ScopedFile fresh(p_.files);
  ASSERT_EQ(Open(dir_ + "new.txt", file_access::kGenericWrite, file_share::kNone,
                 file_creation::kOpenAlways, &fresh),
            0u);
  EXPECT_TRUE(p_.files.PathFileExists(dir_ + "new.txt"));
}

TEST_F(FilesContractTest, SharingDecidesWhoElseMayOpen) {
  std::string path = dir_ + "shared.txt";
  WriteFile(path, "x");
  ScopedFile writer(p_.files);
  ASSERT_EQ(Open(path, file_access::kGenericWrite, file_share::kRead, file_creation::kOpenExisting,
                 &writer),
            0u);
  ScopedFile second(p_.files);
  EXPECT_EQ(Open(path, file_access::kGenericWrite, file_share::kRead | file_share::kWrite,
                 file_creation::kOpenExisting, &second),
            win32_error::kSharingViolation);
  EXPECT_FALSE(second);
  // A reader must itself allow the writer that is already there.
  EXPECT_EQ(Open(path, file_access::kGenericRead, file_share::kRead, file_creation::kOpenExisting,
                 &second),
            win32_error::kSharingViolation);
  EXPECT_EQ(Open(path, file_access::kGenericRead, file_share::kRead | file_share::kWrite,
                 file_creation::kOpenExisting, &second),
            0u);
  ScopedFile exclusive(p_.files);
  EXPECT_EQ(Open(dir_ + "shared.txt", file_access::kGenericRead, file_share::kNone,
                 file_creation::kCreateNew, &exclusive),
            win32_error::kFileExists);
}

TEST_F(FilesContractTest, CopyCanRefuseToOverwrite) {
  WriteFile(dir_ + "a.txt", "source");
  WriteFile(dir_ + "b.txt", "target");
  EXPECT_EQ(p_.files.CopyFile(dir_ + "a.txt", dir_ + "b.txt", true), win32_error::kFileExists);
  EXPECT_EQ(ReadFile(dir_ + "b.txt"), "target");
  EXPECT_EQ(p_.files.CopyFile(dir_ + "a.txt", dir_ + "b.txt", false), 0u);
  EXPECT_EQ(ReadFile(dir_ + "b.txt"), "source");
  EXPECT_EQ(p_.files.CopyFile(dir_ + "none.txt", dir_ + "c.txt", false),
            win32_error::kFileNotFound);
}

TEST_F(FilesContractTest, AMoveReplacesTheTargetWhole) {
  WriteFile(dir_ + "new.tmp", "new");
  WriteFile(dir_ + "file.prom", "old");
  EXPECT_EQ(p_.files.MoveFileReplacing(dir_ + "new.tmp", dir_ + "file.prom"), 0u);
  EXPECT_EQ(ReadFile(dir_ + "file.prom"), "new");
  EXPECT_FALSE(p_.files.PathFileExists(dir_ + "new.tmp"));
  EXPECT_EQ(p_.files.MoveFileReplacing(dir_ + "new.tmp", dir_ + "file.prom"),
            win32_error::kFileNotFound);
  WriteFile(dir_ + "new.tmp", "new");
  EXPECT_EQ(p_.files.MoveFileReplacing(dir_ + "new.tmp", dir_ + "no\\such\\file.prom"),
            win32_error::kPathNotFound);
}

TEST_F(FilesContractTest, ExistenceAttributesAndDeletionOfFilesAndDirectories) {
  std::string path = dir_ + "file.txt";
  WriteFile(path, "x");
  EXPECT_TRUE(p_.files.PathFileExists(path));
  EXPECT_TRUE(p_.files.PathFileExists(dir_));
  EXPECT_NE(p_.files.GetFileAttributes(dir_) & file_attribute::kDirectory, 0u);
  ASSERT_EQ(p_.files.CreateDirectory(dir_ + "sub"), 0u);
  EXPECT_EQ(p_.files.CreateDirectory(dir_ + "sub"), win32_error::kAlreadyExists);
  EXPECT_TRUE(p_.files.PathFileExists(dir_ + "sub"));

  ASSERT_EQ(p_.files.SetFileAttributes(path, file_attribute::kReadOnly), 0u);
  EXPECT_NE(p_.files.GetFileAttributes(path) & file_attribute::kReadOnly, 0u);
  // Whether the flag then stops writers depends on the account (Wine run as root writes
  // anyway), so only the flag itself is part of the contract.
  ASSERT_EQ(p_.files.SetFileAttributes(path, file_attribute::kNormal), 0u);
  EXPECT_EQ(p_.files.GetFileAttributes(path) & file_attribute::kReadOnly, 0u);

  WideString wide = p_.texts.AnsiToWide(path);
  EXPECT_EQ(p_.files.DeleteFile(wide), 0u);
  EXPECT_FALSE(p_.files.PathFileExists(path));
  EXPECT_EQ(p_.files.DeleteFile(wide), win32_error::kFileNotFound);
  Win32Error error = 0;
  EXPECT_EQ(p_.files.GetFileAttributes(path, &error), file_attribute::kInvalid);
  EXPECT_EQ(error, win32_error::kFileNotFound);
  EXPECT_EQ(p_.files.GetFileAttributes(dir_ + "no\\such.txt", &error), file_attribute::kInvalid);
  EXPECT_EQ(error, win32_error::kPathNotFound);
}

}  // namespace
}  // namespace keldran::contract
