// The host on the Win32 backend, as the entry point assembles it: what only real processes and
// the real registry show.
#include "support_win32/host_run.h"
// After the Windows headers: takes back their A/W macros, which would rename interface methods.
#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/host.h"
#include "log/error_text.h"
#include "platform/win32/win32_platform.h"

namespace keldran {
namespace {

// Handles of this process, as counted by asking for each possible handle value up to 0x10000
// (Wine answers that, while its GetProcessHandleCount reports 0).
std::uint32_t ProbedHandleCount() {
  std::uint32_t count = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

class SupervisionWin32Test : public ::testing::Test {
 protected:
  ~SupervisionWin32Test() override {
    // The client first: a child still running would keep files in the scratch directory busy.
    if (!client.HasEnded()) {
      client.Terminate(1460);
      (void)client.WaitForEnd(10000);
    }
    ::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  }

  // Declared first, so that it goes last: the log may hold its day file until the host goes.
  tools::ScratchDir dir;
  const std::string scratch = dir.path() + "\\";
  const std::string key =
      "Software\\KeldranSupervisionTest\\key_" + std::to_string(::GetCurrentProcessId());
  win32::Win32Platform backend;
  Platform& platform = backend.platform();
  Host host{platform, [](Host&) { return ObjectRef(); }};
  Process& client = host.supervisor.client();
  Configuration& config = host.config;
};

// The real registry enumerates a name the ANSI code page cannot spell as question marks; the
// key is still deleted.
TEST_F(SupervisionWin32Test, SubkeyNamedOutsideTheCodePageIsDeleted) {
  const WideString wide = platform.texts.AnsiToWide(key) + u"\\b\\\u043a\u043b\u044e\u0447\\\u4e2d";
  HKEY wideKey = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, reinterpret_cast<const wchar_t*>(wide.c_str()), 0,
                              nullptr, 0, KEY_WRITE, nullptr, &wideKey, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(wideKey);
  host.log.setLogDir(scratch.c_str());
  config.LogPre = "Grid";
  host.keyDeletion.DeleteRegistryKeys("HKCU\\" + key);
  const LocalTime now = platform.clock.LocalNow();
  ASSERT_TRUE(host.log.Flush(5000));

  RegKey gone;
  EXPECT_EQ(platform.registry.OpenKey(reg_root::kCurrentUser, key, reg_access::kRead, &gone),
            win32_error::kFileNotFound);
  const std::string log =
      tools::ReadWholeFile(scratch + Format("%04i-%02i-%02i.log", now.year, now.month, now.day))
          .value_or("");
  EXPECT_NE(log.find("#Grid# Deleted registry key: " + key + "\\b\\????\\?\r\n"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("(not found)"), std::string::npos) << log;
}

// Every restart closes the handles of the child it replaces: the host's handle count stays flat
// however often the client is restarted.
TEST_F(SupervisionWin32Test, FiveHundredRestartsLeaveTheHandleCountFlat) {
  int done = 0;
  int retried = 0;
  auto cycle = [&] {
    Win32Error error = 0;
    bool started = client.Start("%DIR%\\echo_child.exe - wait", show_window::kHide, &error);
    // Wine now and then fails a CreateProcess with ERROR_INTERNAL_ERROR while processes come and
    // go quickly; such a start is tried again, as it is no part of what is measured here.
    for (int again = 0; !started && error == 1359 && again < 3; ++again, ++retried)
      started = client.Start("%DIR%\\echo_child.exe - wait", show_window::kHide, &error);
    ASSERT_TRUE(started) << "start " << done << " failed: " << errorText(platform.texts, error);
    ++done;
    client.Terminate(1460);
    ASSERT_TRUE(client.WaitForEnd(10000));
  };
  cycle();  // whatever the first start loads for good is not a leak
  const std::uint32_t probedBefore = ProbedHandleCount();
  for (int i = 0; i < 500; ++i) {
    cycle();
    if (HasFatalFailure()) return;
  }
  const std::uint32_t probedAfter = ProbedHandleCount();
  std::printf("handles before and after 500 restarts: %u -> %u (%d starts tried again)\n",
              probedBefore, probedAfter, retried);
  EXPECT_GT(probedBefore, 0u);
  EXPECT_LE(probedAfter, probedBefore + 5);
}

}  // namespace
}  // namespace keldran
