#include <gtest/gtest.h>

#include <string>

#include "support/module_fixture.h"

namespace keldran {
namespace {

constexpr const char* kClientExe = "D:\\Grid\\client.exe";
constexpr const char* kParams =
    " /ServiceID={11111111-2222-3333-4444-555555555555} /ServiceName=KeldranGridAgent321";

class ClientLaunchTest : public testing::ModuleFixture {
 protected:
  ClientLaunchTest() {
    ConfigureGrid();
    fake.processes.SetModuleFileName("D:\\Grid\\KeldranGridAgent.exe");
    fake.processes.AddProgram(kClientExe, {});
    module.CommandLine = "%DIR%\\client.exe -w 5";
    module.Show = 1;
  }

  // True when nothing was posted to the test thread before this call.
  bool NothingPostedToRunThread() {
    const std::uint32_t marker = 0x8001;
    EXPECT_TRUE(fake.windowing.PostThreadMessage(module.RunThreadId, marker, 0, 0));
    Message message{};
    return fake.windowing.GetMessage(&message) > 0 && message.message == marker;
  }
};

TEST_F(ClientLaunchTest, StartsTheClientWithItsIdentityAndAFreshSupervisionState) {
  module.LastHeartbeat = 12345;
  module.HeartbeatTimeout = 30;
  module.Paused = true;
  module.TimedOut = true;
  module.ConnectedOnce = true;

  module.LaunchClient(false);

  const auto child = fake.processes.LastChild();
  ASSERT_TRUE(child);
  EXPECT_EQ(child->commandLine, std::string(kClientExe) + " -w 5" + kParams);
  EXPECT_EQ(child->environment.at("KeldranService_PDF_PARAMS"), kParams);
  EXPECT_EQ(child->currentDirectory, "D:\\Grid");
  EXPECT_EQ(child->showWindow, show_window::kShow);
  EXPECT_FALSE(child->environmentBlock);

  EXPECT_TRUE(module.ClientRunning);
  EXPECT_TRUE(module.ClientLaunched);
  EXPECT_EQ(module.LastHeartbeat, CServiceModule::kNoHeartbeat);
  EXPECT_EQ(module.HeartbeatTimeout, 0u);
  EXPECT_FALSE(module.Paused);
  EXPECT_FALSE(module.TimedOut);
  EXPECT_FALSE(module.ConnectedOnce);

  const auto started = Events(105);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].type, event_type::kInformation);
  EXPECT_EQ(started[0].category, category::kStartup);
  EXPECT_EQ(started[0].strings, std::vector<std::string>{""});
  EXPECT_TRUE(Events(106).empty());
}

TEST_F(ClientLaunchTest, ServiceNameWithASpaceIsPassedUnquoted) {
  module.ServiceName = "Grid Svc";
  module.ServiceID = "{X}";
  module.LaunchClient(false);
  const auto child = fake.processes.LastChild();
  ASSERT_TRUE(child);
  EXPECT_EQ(child->commandLine,
            std::string(kClientExe) + " -w 5 /ServiceID={X} /ServiceName=Grid Svc");
  EXPECT_EQ(child->environment.at("KeldranService_PDF_PARAMS"),
            " /ServiceID={X} /ServiceName=Grid Svc");
}

TEST_F(ClientLaunchTest, RestartUsesTheLatestShowStateAndDeletesTheKeysAgain) {
  module.DeleteRegKeys = "HKCU\\Software\\Cache";
  int startsWithKeyPresent = 0;
  fake.processes.AddProgram(
      kClientExe, {.exitAfter = {}, .exitCode = 0, .onStart = [&](fake::FakeChild&) {
                     if (fake.registry.KeyExists(reg_root::kCurrentUser, "Software\\Cache"))
                       ++startsWithKeyPresent;
                   }});
  fake.registry.PutKey(reg_root::kCurrentUser, "Software\\Cache\\old");
  module.LaunchClient(false);
  EXPECT_EQ(fake.processes.LastChild()->showWindow, show_window::kShow);

  module.Show = 0;  // as NotifyVisible sets it
  fake.registry.PutKey(reg_root::kCurrentUser, "Software\\Cache");
  client.Terminate(1460);
  module.LaunchClient(true);

  const auto children = fake.processes.Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[1].showWindow, show_window::kHide);
  EXPECT_EQ(startsWithKeyPresent, 0);
  EXPECT_EQ(Events(105).size(), 2u);
  EXPECT_TRUE(module.ClientRunning);
}

TEST_F(ClientLaunchTest, FailedFirstStartWritesOne106AndDoesNotQuit) {
  module.RunThreadId = fake.windowing.CurrentThreadId();
  module.CommandLine = "%DIR%\\missing.exe";
  module.LaunchClient(false);

  EXPECT_FALSE(module.ClientRunning);
  EXPECT_FALSE(module.ClientLaunched);
  EXPECT_TRUE(Events(105).empty());
  const auto failed = Events(106);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].type, event_type::kError);
  EXPECT_EQ(failed[0].category, category::kStartup);
  // The command line as configured (macros unexpanded), then the system's text.
  EXPECT_EQ(failed[0].strings[0], std::string(": Cannot run command:\n\n%DIR%\\missing.exe") +
                                      kParams + " \r\n\r\n Error: 2 (0x00000002) File not found.");
  EXPECT_TRUE(NothingPostedToRunThread());
}

TEST_F(ClientLaunchTest, FailedRestartEndsTheRunLoop) {
  module.RunThreadId = fake.windowing.CurrentThreadId();
  module.LaunchClient(false);
  ASSERT_TRUE(module.ClientRunning);

  client.Terminate(1460);
  fake.faults.Fail("CreateProcess", win32_error::kAccessDenied);
  module.LaunchClient(true);

  EXPECT_FALSE(module.ClientRunning);
  EXPECT_TRUE(module.ClientLaunched);  // never cleared
  EXPECT_EQ(Events(106).size(), 1u);
  Message message{};
  EXPECT_EQ(fake.windowing.GetMessage(&message), 0);  // WM_QUIT
}

TEST_F(ClientLaunchTest, KeyThatCannotBeDeletedIsWarnedAndTheClientStartsAnyway) {
  module.DeleteRegKeys = "HKCU\\Software\\Stuck";
  fake.registry.PutKey(reg_root::kCurrentUser, "Software\\Stuck");
  fake.faults.Fail("RegDeleteKey", win32_error::kAccessDenied, -1);
  fake.faults.Fail("SetEnvironmentVariable", win32_error::kNotEnoughMemory, -1);
  module.LaunchClient(true);

  const auto events = fake.eventLog.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, 120u);
  EXPECT_EQ(events[0].type, event_type::kWarning);
  EXPECT_EQ(events[1].id, 105u);
  EXPECT_TRUE(module.ClientRunning);
  EXPECT_FALSE(fake.processes.LastChild()->environment.count("KeldranService_PDF_PARAMS"));
}

// ---- The control document ------------------------------------------------------------------

class CtrlDocTest : public testing::ModuleFixture {
 protected:
  static constexpr const char* kDoc = "C:\\Docs\\control.pdf";
  CtrlDocTest() {
    ConfigureGrid();
    fake.files.AddDirectory("C:\\Docs");
    module.CtrlDoc = kDoc;
  }
  std::uint32_t Attributes() { return fake.files.GetFileAttributes(kDoc, nullptr); }
};

TEST_F(CtrlDocTest, NoDocumentConfiguredIsNothingToDo) {
  module.CtrlDoc = "";
  module.RunAsService = true;
  EXPECT_TRUE(module.ApplyCtrlDocAttribute());
  EXPECT_EQ(fake.faults.Calls("GetFileAttributes"), 0);
  EXPECT_TRUE(fake.eventLog.Events().empty());
}

TEST_F(CtrlDocTest, ReadOnlyAsAServiceWritableAsAnApplicationAndAFailureEndsTheStartUp) {
  using namespace file_attribute;
  constexpr std::uint32_t kMissing = 0xFFFFFFFFu;
  const std::string path = ": C:\\Docs\\control.pdf";
  struct Case {
    bool service;
    std::uint32_t before;  // kMissing: no document
    Win32Error fault;      // of SetFileAttributes
    bool ok;
    std::uint32_t after;
    std::string event;  // the 1001 text; empty: none
  } cases[] = {
      {true, kArchive | kHidden, 0, true, kArchive | kHidden | kReadOnly,
       "Set read-only attribute on CtrlDoc file" + path},
      {false, kArchive | kReadOnly, 0, true, kArchive,
       "Cleared read-only attribute on CtrlDoc file" + path},
      {true, kArchive | kReadOnly, 0, true, kArchive | kReadOnly, ""},  // already right
      {false, kArchive, 0, true, kArchive, ""},
      {true, kMissing, 0, false, kMissing,
       "Could not set file attributes on CtrlDoc file" + path +
           "\r\n\r\n Error: 2 (0x00000002) File not found."},
      {true, kArchive, win32_error::kAccessDenied, false, kArchive,
       "Could not set file attributes on CtrlDoc file" + path +
           "\r\n\r\n Error: 5 (0x00000005) Access denied."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    fake.eventLog.Clear();
    fake.files.RemoveTree(kDoc);
    if (c.before != kMissing) fake.files.AddFile(kDoc, "%PDF", c.before);
    if (c.fault) fake.faults.Fail("SetFileAttributes", c.fault);
    module.RunAsService = c.service;
    EXPECT_EQ(module.ApplyCtrlDocAttribute(), c.ok);
    EXPECT_EQ(Attributes(), c.after);
    const auto events = Events(1001);
    ASSERT_EQ(events.size(), c.event.empty() ? 0u : 1u);
    if (c.event.empty()) continue;
    EXPECT_EQ(events[0].type, c.ok ? event_type::kInformation : event_type::kError);
    EXPECT_EQ(events[0].category, category::kStartup);
    EXPECT_EQ(events[0].strings[0], c.event);
  }
}

}  // namespace
}  // namespace keldran
