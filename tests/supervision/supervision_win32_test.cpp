// The child process, the client launch, the registry key deletion and the control document
// against real processes, the real registry and real files, under Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/error_text.h"
#include "support_win32/win32_host.h"

namespace keldran {
namespace {

using testing::ProcessWatch;
using testing::Win32Host;

constexpr const char* kGuid = "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class SupervisionWin32Test : public ::testing::Test {
 protected:
  Win32Host host;
  Platform& platform = host.platform();
  Process& client = host.client();
  Configuration& config = host.host().config;
  Supervisor& supervisor = host.host().supervisor;
};

TEST_F(SupervisionWin32Test, ClientSeesItsIdentityLastOnItsCommandLineAndInItsEnvironment) {
  const std::string out = host.ScratchDirectory() + "seen.txt";
  config.CommandLine = "%DIR%\\echo_child.exe " + out + " exit=0 -own -words";
  config.ServiceID = kGuid;
  config.ServiceName = "Grid Svc";
  config.Show = 0;
  ASSERT_TRUE(supervisor.LaunchClient());
  ASSERT_TRUE(supervisor.ClientRunning());
  ASSERT_TRUE(client.WaitForEnd(30000));

  const std::string params = std::string(" /ServiceID=") + kGuid + " /ServiceName=Grid Svc";
  const std::vector<std::string> seen = Lines(ReadFile(out));
  ASSERT_EQ(seen.size(), 2u) << ReadFile(out);
  const std::string expected =
      client.BaseDir() + "\\echo_child.exe " + out + " exit=0 -own -words" + params;
  EXPECT_EQ(seen[0], expected);
  EXPECT_EQ(seen[1], params);
}

TEST_F(SupervisionWin32Test, WaitForEndTimesOutOnALiveChildAndTerminateGivesIt1460) {
  ASSERT_TRUE(client.Start("%DIR%\\echo_child.exe - wait", show_window::kHide));
  ProcessWatch watch(client.processId());
  ASSERT_TRUE(watch.valid());

  const std::uint32_t before = platform.clock.TickCount();
  EXPECT_FALSE(client.WaitForEnd(300));
  EXPECT_GE(platform.clock.TickCount() - before, 250u);
  EXPECT_FALSE(client.HasEnded());

  client.Terminate(1460);
  EXPECT_TRUE(client.WaitForEnd(10000));
  EXPECT_TRUE(client.HasEnded());
  EXPECT_EQ(watch.ExitCode(0), 1460u);
}

TEST_F(SupervisionWin32Test, DestroyingTheProcessObjectKillsItsChildWith1460) {
  std::optional<ProcessWatch> watch;
  {
    Process scoped(platform);
    ASSERT_TRUE(scoped.Start("%DIR%\\echo_child.exe - wait", show_window::kHide));
    watch.emplace(scoped.processId());
  }
  ASSERT_TRUE(watch->valid());
  EXPECT_EQ(watch->ExitCode(10000), 1460u);
}

TEST_F(SupervisionWin32Test, StartOfAMissingProgramReportsFileNotFound) {
  Win32Error error = 0;
  EXPECT_FALSE(client.Start("%DIR%\\no_such_program.exe /x", show_window::kHide, &error));
  EXPECT_EQ(error, win32_error::kFileNotFound);
  EXPECT_EQ(client.LastResult(), static_cast<HResult>(0x80070002u));
}

TEST_F(SupervisionWin32Test, RegistryTreeThreeLevelsDeepIsDeletedDepthFirst) {
  const std::string root = host.ScratchRegistryPath();
  for (const std::string& path : {root + "\\a\\a1\\a2", root + "\\b"}) {
    RegKey key;
    ASSERT_EQ(platform.registry.CreateKey(reg_root::kCurrentUser, path, reg_access::kWrite, &key),
              0u);
    EXPECT_EQ(SetStringValue(platform.registry, key, "v", "x"), 0u);
    platform.registry.CloseKey(key);
  }
  // Names that the ANSI code page cannot spell go as well.
  ASSERT_TRUE(testing::CreateWideKey(platform.texts.AnsiToWide(root) +
                                     u"\\b\\\u043a\u043b\u044e\u0447\\\u4e2d"));
  const std::string logDir = host.ScratchDirectory();
  host.log().setLogDir(logDir.c_str());
  config.LogPre = "Grid";
  config.DeleteRegKeys = "HKCU\\" + root;
  host.host().keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
  const LocalTime now = platform.clock.LocalNow();
  ASSERT_TRUE(host.log().Flush(5000));

  RegKey gone;
  EXPECT_EQ(platform.registry.OpenKey(reg_root::kCurrentUser, root, reg_access::kRead, &gone),
            win32_error::kFileNotFound);

  const std::string log =
      ReadFile(logDir + Format("%04i-%02i-%02i.log", now.year, now.month, now.day));
  auto at = [&](const std::string& path) {
    const std::string line = "#Grid# Deleted registry key: " + path;
    std::size_t pos = log.find(line + "\r\n");
    if (pos == std::string::npos && log.size() >= line.size() &&
        log.compare(log.size() - line.size(), line.size(), line) == 0) {
      pos = log.size() - line.size();
    }
    return pos;
  };
  const std::size_t a2 = at(root + "\\a\\a1\\a2"), a1 = at(root + "\\a\\a1"), a = at(root + "\\a"),
                    wide = at(root + "\\b\\????\\?"), b = at(root + "\\b"), top = at(root);
  for (std::size_t pos : {a2, a1, a, wide, b, top}) ASSERT_NE(pos, std::string::npos) << log;
  EXPECT_LT(a2, a1);
  EXPECT_LT(a1, a);
  EXPECT_LT(a, top);
  EXPECT_LT(wide, b);
  EXPECT_LT(b, top);
  EXPECT_EQ(log.find("(not found)"), std::string::npos) << log;
}

TEST_F(SupervisionWin32Test, ControlDocumentIsReadOnlyAsAServiceAndWritableAsAnApplication) {
  const std::string doc = host.ScratchDirectory() + "control.pdf";
  std::ofstream(doc) << "%PDF-1.4\n";
  config.CtrlDoc = doc;

  ASSERT_TRUE(supervisor.ApplyCtrlDocAttribute(true));
  EXPECT_TRUE(platform.files.GetFileAttributes(doc) & file_attribute::kReadOnly);

  ASSERT_TRUE(supervisor.ApplyCtrlDocAttribute(false));
  EXPECT_FALSE(platform.files.GetFileAttributes(doc) & file_attribute::kReadOnly);
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
    // go in quick succession (more so with other tests running beside); such a start is tried
    // again, as it is no part of what is measured here.
    for (int again = 0; !started && error == 1359 && again < 3; ++again, ++retried)
      started = client.Start("%DIR%\\echo_child.exe - wait", show_window::kHide, &error);
    ASSERT_TRUE(started) << "start " << done << " failed: " << errorText(platform.texts, error);
    ++done;
    client.Terminate(1460);
    ASSERT_TRUE(client.WaitForEnd(10000));
  };
  cycle();  // whatever the first start loads for good is not a leak
  const std::uint32_t before = testing::ProcessHandleCount();
  const std::uint32_t probedBefore = testing::ProbedHandleCount();
  for (int i = 0; i < 500; ++i) {
    cycle();
    if (HasFatalFailure()) return;
  }
  const std::uint32_t after = testing::ProcessHandleCount();
  const std::uint32_t probedAfter = testing::ProbedHandleCount();
  std::printf(
      "handles before and after 500 restarts: GetProcessHandleCount %u -> %u, probed %u -> %u "
      "(%d starts tried again)\n",
      before, after, probedBefore, probedAfter, retried);
  RecordProperty("HandlesBefore", static_cast<int>(before));
  RecordProperty("HandlesAfter", static_cast<int>(after));
  RecordProperty("ProbedHandlesBefore", static_cast<int>(probedBefore));
  RecordProperty("ProbedHandlesAfter", static_cast<int>(probedAfter));
  EXPECT_LE(after, before + 5);
  EXPECT_GT(probedBefore, 0u);
  EXPECT_LE(probedAfter, probedBefore + 5);
}

}  // namespace
}  // namespace keldran
