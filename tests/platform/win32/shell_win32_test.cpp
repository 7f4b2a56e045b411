#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/win32/backend.h"
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

// What the host's own shortcuts leave empty (the rest is read back end to end).
TEST_F(ShellTest, ShortcutsReadBackAsSaved) {
  ShortcutDefinition saved;
  saved.path = dir_ + "\\Agent.lnk";
  saved.target = "C:\\Program Files\\Keldran\\KeldranGridAgent.exe";
  saved.iconLocation = "C:\\Program Files\\Keldran\\keldran.ico,0";
  saved.windowStyle = 3;
  ASSERT_EQ(p_.shell.SaveShortcut(saved), kSOk);

  ShortcutDefinition read;
  ASSERT_EQ(p_.shell.ReadShortcut(saved.path, &read), kSOk);
  EXPECT_EQ(read.iconLocation, saved.iconLocation);
  // Wine writes the show command but reads every shortcut back as 1: look in the file instead
  // (a 32-bit field at offset 0x3C of the header).
  EXPECT_EQ(read.windowStyle, 1);
  EXPECT_EQ(ShowCommandInFile(saved.path), 3u);

  EXPECT_TRUE(Failed(p_.shell.ReadShortcut(dir_ + "\\missing.lnk", &read)));
}

TEST_F(ShellTest, FolderTreesAreCountedAndDeletedWhole) {
  ASSERT_EQ(p_.shell.CreateFolder(dir_ + "\\tree"), kSOk);
  ASSERT_EQ(p_.shell.CreateFolder(dir_ + "\\tree\\sub"), kSOk);
  Touch(dir_ + "\\tree\\a.txt");
  Touch(dir_ + "\\tree\\b.txt");
  Touch(dir_ + "\\tree\\sub\\c.txt");
  ::SetFileAttributesA((dir_ + "\\tree\\sub\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY);

  std::uint32_t files = 0, folders = 0;
  ASSERT_EQ(p_.shell.FolderCounts(dir_ + "\\tree\\", &files, &folders), kSOk);
  EXPECT_EQ(std::pair(files, folders), std::pair(2u, 1u));
  EXPECT_TRUE(p_.shell.FolderExists(dir_ + "\\tree"));
  EXPECT_FALSE(p_.shell.FileExists(dir_ + "\\tree"));
  EXPECT_FALSE(p_.shell.FolderExists(dir_ + "\\tree\\a.txt"));

  ASSERT_EQ(p_.shell.DeleteFolder(dir_ + "\\tree"), kSOk);
  EXPECT_FALSE(p_.shell.FolderExists(dir_ + "\\tree"));
  EXPECT_EQ(p_.shell.DeleteFolder(dir_ + "\\tree"), HResultFromWin32(win32_error::kPathNotFound));
  EXPECT_EQ(p_.shell.DeleteFile(dir_ + "\\none.txt"), HResultFromWin32(win32_error::kFileNotFound));
}

// Runs a Unix command on the machine under Wine, which starts native programs too; the call
// comes back before the program has run, so the caller polls for its effect.
bool RunUnix(std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return false;
  }
  ::CloseHandle(started.hThread);
  ::CloseHandle(started.hProcess);
  return true;
}

std::string UnixPath(const std::string& path) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = toUnix ? toUnix(ToWide(path).c_str()) : nullptr;
  const std::string result = unix ? unix : "";
  if (unix) ::HeapFree(::GetProcessHeap(), 0, unix);
  return result;
}

// Waits up to 5 s for the path to exist or not.
bool WaitForExistence(const std::string& path, bool exists) {
  for (int i = 0; i < 250; ++i, ::Sleep(20))
    if ((::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
  return false;
}

// A link inside a folder being deleted, or the folder itself being a link, is never entered:
// what it points to stays. Wine cannot make links, but shows a Unix symbolic link as one (a
// reparse point), so the test makes one with ln.
TEST_F(ShellTest, FolderDeletionNeverEntersALink) {
  const std::string outside = dir_ + "\\outside";
  const std::string link = dir_ + "\\tree\\link";
  ASSERT_EQ(p_.shell.CreateFolder(outside), kSOk);
  ASSERT_EQ(p_.shell.CreateFolder(dir_ + "\\tree"), kSOk);
  Touch(outside + "\\keep.txt");
  ASSERT_FALSE(UnixPath(outside).empty()) << "not under Wine";
  // Quoted: the prefix lies in the checkout, whose path may hold blanks.
  ASSERT_TRUE(
      RunUnix("Z:\\bin\\ln -s \"" + UnixPath(outside) + "\" \"" + UnixPath(dir_) + "/tree/link\""));
  ASSERT_TRUE(WaitForExistence(link, true));
  ASSERT_TRUE(::GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

  (void)p_.shell.DeleteFolder(link);
  (void)p_.shell.DeleteFolder(dir_ + "\\tree");
  EXPECT_TRUE(p_.shell.FileExists(outside + "\\keep.txt"));

  ASSERT_TRUE(RunUnix("Z:\\bin\\rm -f \"" + UnixPath(dir_) + "/tree/link\""));
  EXPECT_TRUE(WaitForExistence(link, false));
}

}  // namespace
}  // namespace keldran::win32
