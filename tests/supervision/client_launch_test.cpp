#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace keldran {
namespace {

constexpr const char* kClientExe = "D:\\Grid\\client.exe";
constexpr const char* kParams =
    " /ServiceID={11111111-2222-3333-4444-555555555555} /ServiceName=KeldranGridAgent321";

class ClientLaunchTest : public testing::HostFixture {
 protected:
  ClientLaunchTest() {
    ConfigureGrid();
    fake.processes.SetModuleFileName("D:\\Grid\\KeldranGridAgent.exe");
    fake.processes.AddProgram(kClientExe, {});
    config.CommandLine = "%DIR%\\client.exe -w 5";
    config.Show = 1;
  }
};

TEST_F(ClientLaunchTest, StartsTheClientWithItsIdentity) {
  ASSERT_TRUE(supervisor.LaunchClient());

  const auto child = fake.processes.LastChild();
  ASSERT_TRUE(child);
  EXPECT_EQ(child->commandLine, std::string(kClientExe) + " -w 5" + kParams);
  EXPECT_EQ(child->environment.at("KeldranService_PDF_PARAMS"), kParams);
  EXPECT_EQ(child->currentDirectory, "D:\\Grid");
  EXPECT_EQ(child->showWindow, show_window::kShow);
  EXPECT_FALSE(child->environmentBlock);

  EXPECT_TRUE(supervisor.ClientRunning());
  EXPECT_TRUE(supervisor.ClientLaunched());

  const auto started = Events(105);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].type, event_type::kInformation);
  EXPECT_EQ(started[0].category, category::kStartup);
  EXPECT_EQ(started[0].strings, std::vector<std::string>{""});
  EXPECT_TRUE(Events(106).empty());
}

TEST_F(ClientLaunchTest, AClientWithoutAJobStillStartsAndIsReportedOncePerRun) {
  fake.faults.Fail("CreateJobObject", win32_error::kAccessDenied, -1);
  ASSERT_TRUE(supervisor.LaunchClient());
  ASSERT_TRUE(supervisor.LaunchClient());
  EXPECT_EQ(fake.processes.Children().size(), 2u);
  EXPECT_FALSE(fake.processes.LastChild()->inJob);
  const auto warnings = Events(1001);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].type, event_type::kWarning);
  EXPECT_NE(warnings[0].strings[0].find("outside a job object"), std::string::npos);
  EXPECT_NE(warnings[0].strings[0].find("Access denied"), std::string::npos)
      << warnings[0].strings[0];
}

TEST_F(ClientLaunchTest, ServiceNameWithASpaceIsPassedUnquoted) {
  config.ServiceName = "Grid Svc";
  config.ServiceID = "{X}";
  ASSERT_TRUE(supervisor.LaunchClient());
  const auto child = fake.processes.LastChild();
  ASSERT_TRUE(child);
  EXPECT_EQ(child->commandLine,
            std::string(kClientExe) + " -w 5 /ServiceID={X} /ServiceName=Grid Svc");
  EXPECT_EQ(child->environment.at("KeldranService_PDF_PARAMS"),
            " /ServiceID={X} /ServiceName=Grid Svc");
}

TEST_F(ClientLaunchTest, RestartUsesTheLatestShowStateAndDeletesTheKeysAgain) {
  config.DeleteRegKeys = "HKCU\\Software\\Cache";
  int startsWithKeyPresent = 0;
  fake.processes.AddProgram(
      kClientExe, {.exitAfter = {}, .exitCode = 0, .onStart = [&](fake::FakeChild&) {
                     if (fake.registry.KeyExists(reg_root::kCurrentUser, "Software\\Cache"))
                       ++startsWithKeyPresent;
                   }});
  fake.registry.PutKey(reg_root::kCurrentUser, "Software\\Cache\\old");
  ASSERT_TRUE(supervisor.LaunchClient());
  EXPECT_EQ(fake.processes.LastChild()->showWindow, show_window::kShow);

  ASSERT_EQ(calls.NotifyVisible(0), kSOk);
  fake.registry.PutKey(reg_root::kCurrentUser, "Software\\Cache");
  ASSERT_TRUE(supervisor.Restart());

  const auto children = fake.processes.Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[1].showWindow, show_window::kHide);
  EXPECT_EQ(startsWithKeyPresent, 0);
  EXPECT_EQ(Events(105).size(), 2u);
  EXPECT_TRUE(children[0].terminated);
  EXPECT_TRUE(supervisor.ClientRunning());
}

TEST_F(ClientLaunchTest, FailedStartWritesOne106) {
  config.CommandLine = "%DIR%\\missing.exe";
  EXPECT_FALSE(supervisor.LaunchClient());

  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_FALSE(supervisor.ClientLaunched());
  EXPECT_TRUE(Events(105).empty());
  const auto failed = Events(106);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].type, event_type::kError);
  EXPECT_EQ(failed[0].category, category::kStartup);
  // The command line as configured (macros unexpanded), then the system's text.
  EXPECT_EQ(failed[0].strings[0], std::string(": Cannot run command:\n\n%DIR%\\missing.exe") +
                                      kParams + " \r\n\r\n Error: 2 (0x00000002) File not found.");

  // A restart that fails leaves the client not running, though one had been launched.
  config.CommandLine = "%DIR%\\client.exe";
  ASSERT_TRUE(supervisor.LaunchClient());
  fake.faults.Fail("CreateProcess", win32_error::kAccessDenied);
  EXPECT_FALSE(supervisor.Restart());
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_TRUE(supervisor.ClientLaunched());  // never cleared
  EXPECT_EQ(Events(106).size(), 2u);
}

TEST_F(ClientLaunchTest, KeyThatCannotBeDeletedIsWarnedAndTheClientStartsAnyway) {
  config.DeleteRegKeys = "HKCU\\Software\\Stuck";
  fake.registry.PutKey(reg_root::kCurrentUser, "Software\\Stuck");
  fake.faults.Fail("RegDeleteKey", win32_error::kAccessDenied, -1);
  fake.faults.Fail("SetEnvironmentVariable", win32_error::kNotEnoughMemory, -1);
  ASSERT_TRUE(supervisor.LaunchClient());

  const auto events = fake.eventLog.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, 120u);
  EXPECT_EQ(events[0].type, event_type::kWarning);
  EXPECT_EQ(events[1].id, 105u);
  EXPECT_TRUE(supervisor.ClientRunning());
  EXPECT_FALSE(fake.processes.LastChild()->environment.count("KeldranService_PDF_PARAMS"));
}

// ---- The control document ------------------------------------------------------------------

class CtrlDocTest : public testing::HostFixture {
 protected:
  static constexpr const char* kDoc = "C:\\Docs\\control.pdf";
  CtrlDocTest() {
    ConfigureGrid();
    fake.files.AddDirectory("C:\\Docs");
    config.CtrlDoc = kDoc;
  }
  std::uint32_t Attributes() { return fake.files.GetFileAttributes(kDoc, nullptr); }
};

TEST_F(CtrlDocTest, NoDocumentConfiguredIsNothingToDo) {
  config.CtrlDoc = "";
  EXPECT_TRUE(supervisor.ApplyCtrlDocAttribute(true));
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
    EXPECT_EQ(supervisor.ApplyCtrlDocAttribute(c.service), c.ok);
    EXPECT_EQ(Attributes(), c.after);
    const auto events = fake.eventLog.EventsWithId(1001);
    ASSERT_EQ(events.size(), c.event.empty() ? 0u : 1u);
    if (c.event.empty()) continue;
    EXPECT_EQ(events[0].type, c.ok ? event_type::kInformation : event_type::kError);
    EXPECT_EQ(events[0].category, category::kStartup);
    EXPECT_EQ(events[0].strings[0], c.event);
  }
}

}  // namespace
}  // namespace keldran
