#include <gtest/gtest.h>

#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

class ShellTest : public ::testing::Test {
 protected:
  ShellTest() {
    EXPECT_TRUE(Succeeded(p_.com.Initialize()));
    dir_ = p_.files.TempDirectory() + "keldran-shell-" +
           std::to_string(p_.processes.CurrentProcessId());
    EXPECT_EQ(p_.shell.CreateFolder(dir_), kSOk);
  }
  ~ShellTest() override {
    static_cast<void>(p_.shell.DeleteFolder(dir_));
    ::CoUninitialize();
  }

  void Touch(const std::string& path) {
    UniqueFile file(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file) << path;
  }

  static std::uint32_t ShowCommandInFile(const std::string& path) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    std::uint32_t show = 0;
    DWORD read = 0;
    if (file && ::SetFilePointer(file.get(), 0x3C, nullptr, FILE_BEGIN) == 0x3C) {
      ::ReadFile(file.get(), &show, sizeof show, &read, nullptr);
    }
    return read == sizeof show ? show : 0;
  }

  Win32Platform backend_;
  Platform& p_ = backend_.platform();
  std::string dir_;
};

TEST_F(ShellTest, SpecialFoldersByName) {
  std::string programs;
  ASSERT_EQ(p_.shell.SpecialFolder("AllUsersPrograms", &programs), kSOk);
  EXPECT_NE(programs.find("Programs"), std::string::npos) << programs;
  std::string startup;
  ASSERT_EQ(p_.shell.SpecialFolder("AllUsersStartup", &startup), kSOk);
  EXPECT_NE(startup.find("Start"), std::string::npos) << startup;  // "StartUp" on Wine
  std::string other;
  EXPECT_EQ(p_.shell.SpecialFolder("Elsewhere", &other), kEInvalidArg);
}

TEST_F(ShellTest, ShortcutsReadBackAsSaved) {
  ShortcutDefinition saved;
  saved.path = dir_ + "\\Agent.lnk";
  saved.target = "C:\\Program Files\\Keldran\\KeldranGridAgent.exe";
  saved.arguments = "Grid /Start";
  saved.description = "Start the grid agent";
  saved.iconLocation = "C:\\Program Files\\Keldran\\keldran.ico,0";
  saved.windowStyle = 3;
  saved.workingDirectory = "C:\\Program Files\\Keldran";
  ASSERT_EQ(p_.shell.SaveShortcut(saved), kSOk);
  EXPECT_TRUE(p_.shell.FileExists(saved.path));

  ShortcutDefinition read;
  ASSERT_EQ(p_.shell.ReadShortcut(saved.path, &read), kSOk);
  EXPECT_EQ(read.path, saved.path);
  EXPECT_EQ(read.target, saved.target);
  EXPECT_EQ(read.arguments, saved.arguments);
  EXPECT_EQ(read.description, saved.description);
  EXPECT_EQ(read.iconLocation, saved.iconLocation);
  // Wine writes the show command but reads every shortcut back as 1: look in the file instead
  // (a 32-bit field at offset 0x3C of the header).
  EXPECT_EQ(read.windowStyle, 1);
  EXPECT_EQ(ShowCommandInFile(saved.path), 3u);
  EXPECT_EQ(read.workingDirectory, saved.workingDirectory);

  EXPECT_TRUE(Failed(p_.shell.ReadShortcut(dir_ + "\\missing.lnk", &read)));
}

TEST_F(ShellTest, FolderTreesAreCountedAndDeletedWhole) {
  ASSERT_EQ(p_.shell.CreateFolder(dir_ + "\\tree"), kSOk);
  ASSERT_EQ(p_.shell.CreateFolder(dir_ + "\\tree\\sub"), kSOk);
  Touch(dir_ + "\\tree\\a.txt");
  Touch(dir_ + "\\tree\\b.txt");
  Touch(dir_ + "\\tree\\sub\\c.txt");
  ::SetFileAttributesA((dir_ + "\\tree\\sub\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY);

  std::uint32_t files = 0;
  std::uint32_t folders = 0;
  ASSERT_EQ(p_.shell.FolderCounts(dir_ + "\\tree\\", &files, &folders), kSOk);
  EXPECT_EQ(files, 2u);
  EXPECT_EQ(folders, 1u);
  EXPECT_TRUE(p_.shell.FolderExists(dir_ + "\\tree"));
  EXPECT_FALSE(p_.shell.FileExists(dir_ + "\\tree"));
  EXPECT_FALSE(p_.shell.FolderExists(dir_ + "\\tree\\a.txt"));

  ASSERT_EQ(p_.shell.DeleteFolder(dir_ + "\\tree"), kSOk);
  EXPECT_FALSE(p_.shell.FolderExists(dir_ + "\\tree"));
  EXPECT_EQ(p_.shell.DeleteFolder(dir_ + "\\tree"), HResultFromWin32(win32_error::kPathNotFound));
  EXPECT_EQ(p_.shell.DeleteFile(dir_ + "\\none.txt"), HResultFromWin32(win32_error::kFileNotFound));
}

}  // namespace
}  // namespace keldran::win32
