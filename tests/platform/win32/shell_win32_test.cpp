#include <gtest/gtest.h>

#include <string>

#include "common/com.h"
#include "common/files.h"
#include "platform/win32/backend.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

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
TEST(ShellTest, FolderDeletionNeverEntersALink) {
  tools::ComApartment com;
  tools::ScratchDir scratch;
  const std::string dir = scratch.path();
  Win32Platform backend;
  Platform& p = backend.platform();
  const std::string outside = dir + "\\outside";
  const std::string link = dir + "\\tree\\link";
  ASSERT_TRUE(scratch.Write("outside\\keep.txt", ""));
  ASSERT_EQ(p.shell.CreateFolder(dir + "\\tree"), kSOk);
  ASSERT_FALSE(UnixPath(outside).empty()) << "not under Wine";
  // Quoted: the prefix lies in the checkout, whose path may hold blanks.
  ASSERT_TRUE(
      RunUnix("Z:\\bin\\ln -s \"" + UnixPath(outside) + "\" \"" + UnixPath(dir) + "/tree/link\""));
  ASSERT_TRUE(WaitForExistence(link, true));
  ASSERT_TRUE(::GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

  (void)p.shell.DeleteFolder(link);
  (void)p.shell.DeleteFolder(dir + "\\tree");
  EXPECT_TRUE(p.shell.FileExists(outside + "\\keep.txt"));

  ASSERT_TRUE(RunUnix("Z:\\bin\\rm -f \"" + UnixPath(dir) + "/tree/link\""));
  EXPECT_TRUE(WaitForExistence(link, false));
}

}  // namespace
}  // namespace keldran::win32
