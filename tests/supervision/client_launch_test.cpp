#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace keldran {
namespace {

using testing::LoggedEvent;

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

TEST_F(ClientLaunchTest, StartsTheClientWithItsIdentityOrReportsWhyNot) {
  config.CommandLine = "%DIR%\\missing.exe";
  EXPECT_FALSE(supervisor.LaunchClient());
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_FALSE(supervisor.ClientLaunched());
  // The command line as configured (macros unexpanded), then the system's text.
  const std::string failed = std::string(": Cannot run command:\n\n%DIR%\\missing.exe") + kParams +
                             " \r\n\r\n Error: 2 (0x00000002) File not found.";
  EXPECT_EQ(Logged(106),
            (std::vector<LoggedEvent>{{event_type::kError, category::kStartup, failed}}));
  EXPECT_EQ(Count(105), 0u);

  config.CommandLine = "%DIR%\\client.exe -w 5";
  ASSERT_TRUE(supervisor.LaunchClient());
  const auto child = fake.processes.LastChild();
  ASSERT_TRUE(child);
  EXPECT_EQ(child->commandLine, std::string(kClientExe) + " -w 5" + kParams);
  EXPECT_EQ(fake.processes.GetEnvironmentVariable("KeldranService_PDF_PARAMS"), kParams);
  EXPECT_EQ(child->currentDirectory, "D:\\Grid");
  EXPECT_EQ(child->showWindow, show_window::kShow);
  EXPECT_FALSE(child->environmentBlock);
  EXPECT_TRUE(supervisor.ClientRunning());
  EXPECT_TRUE(supervisor.ClientLaunched());
  EXPECT_EQ(Logged(105),
            (std::vector<LoggedEvent>{{event_type::kInformation, category::kStartup, ""}}));

  // Configured variables go over the host's own, and the parameters (a name with a space
  // unquoted) over those; the priority and processors are set before the client runs.
  config.ServiceName = "Grid Svc";
  config.ServiceID = "{X}";
  config.Environment = {{"GRID_MODE", "batch"}, {"keldranservice_pdf_params", "spoofed"}};
  config.PriorityClass = priority_class::kBelowNormal;
  config.AffinityMask = 0x3;
  ASSERT_TRUE(supervisor.LaunchClient());
  const auto tuned = fake.processes.LastChild();
  const std::string spaced = " /ServiceID={X} /ServiceName=Grid Svc";
  EXPECT_EQ(tuned->commandLine, std::string(kClientExe) + " -w 5" + spaced);
  const std::string block = tuned->environmentBlock.value_or("");
  EXPECT_NE(block.find(std::string("\0GRID_MODE=batch\0", 17)), std::string::npos);
  EXPECT_NE(block.find("PATH=C:\\windows\\system32;C:\\windows"), std::string::npos);
  EXPECT_EQ(block.find("spoofed"), std::string::npos);
  EXPECT_EQ(block.substr(block.rfind("KeldranService_PDF_PARAMS=")),
            "KeldranService_PDF_PARAMS=" + spaced + std::string(1, '\0'));
  EXPECT_EQ(tuned->priorityClass, priority_class::kBelowNormal);
  EXPECT_EQ(tuned->affinityMask, 0x3u);
  EXPECT_TRUE(tuned->ownConsole);

  // A restart that fails leaves the client not running, though one had been launched.
  fake.faults.Fail("CreateProcess", win32_error::kAccessDenied);
  EXPECT_FALSE(supervisor.Restart());
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_TRUE(supervisor.ClientLaunched());  // never cleared
  EXPECT_EQ(Count(106), 2u);
}

// A key that cannot be deleted is warned before each start; a job that cannot be made, once per
// run after the start; an environment that cannot be set, not at all.
TEST_F(ClientLaunchTest, WhatCannotBeSetUpIsWarnedAndTheClientStartsAnyway) {
  config.DeleteRegKeys = "HKCU\\Software\\Stuck";
  fake.registry.PutKey(reg_root::kCurrentUser, "Software\\Stuck");
  fake.faults.Fail("RegDeleteKey", win32_error::kAccessDenied, -1);
  fake.faults.Fail("SetEnvironmentVariable", win32_error::kNotEnoughMemory, -1);
  fake.faults.Fail("CreateJobObject", win32_error::kAccessDenied, -1);
  ASSERT_TRUE(supervisor.LaunchClient());
  ASSERT_TRUE(supervisor.LaunchClient());
  EXPECT_TRUE(supervisor.ClientRunning());
  EXPECT_EQ(fake.processes.Children().size(), 2u);
  EXPECT_FALSE(fake.processes.LastChild()->inJob);
  EXPECT_FALSE(fake.processes.GetEnvironmentVariable("KeldranService_PDF_PARAMS"));
  std::vector<std::uint32_t> ids;
  for (const auto& e : fake.eventLog.Events()) ids.push_back(e.id);
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{120, 105, 1001, 120, 105}));
  EXPECT_EQ(Logged(120)[0].type, event_type::kWarning);
  EXPECT_EQ(Logged(1001), (std::vector<LoggedEvent>{
                              {event_type::kWarning, category::kStartup,
                               "The client runs outside a job object: it would outlive a host that "
                               "is killed.\r\n\r\n Error: 5 (0x00000005) Access denied."}}));
}

TEST_F(ClientLaunchTest, CtrlDocIsReadOnlyForAServiceWritableForAnApplicationElseStartUpEnds) {
  constexpr const char* kDoc = "C:\\Docs\\control.pdf";
  EXPECT_TRUE(supervisor.ApplyCtrlDocAttribute(true));  // none configured: nothing to do
  fake.files.AddDirectory("C:\\Docs");
  config.CtrlDoc = kDoc;
  using namespace file_attribute;
  constexpr std::uint32_t kMissing = 0xFFFFFFFFu;
  const std::string path = ": C:\\Docs\\control.pdf";
  const std::string refused = "Could not set file attributes on CtrlDoc file" + path + "\r\n\r\n";
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
      {true, kMissing, 0, false, kMissing, refused + " Error: 2 (0x00000002) File not found."},
      {true, kArchive, win32_error::kAccessDenied, false, kArchive,
       refused + " Error: 5 (0x00000005) Access denied."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    fake.eventLog.Clear();
    fake.files.RemoveTree(kDoc);
    if (c.before != kMissing) fake.files.AddFile(kDoc, "%PDF", c.before);
    if (c.fault) fake.faults.Fail("SetFileAttributes", c.fault);
    EXPECT_EQ(supervisor.ApplyCtrlDocAttribute(c.service), c.ok);
    EXPECT_EQ(fake.files.GetFileAttributes(kDoc, nullptr), c.after);
    const LoggedEvent event{c.ok ? event_type::kInformation : event_type::kError,
                            category::kStartup, c.event};
    EXPECT_EQ(Logged(1001), c.event.empty() ? std::vector<LoggedEvent>{} : std::vector{event});
  }
}

}  // namespace
}  // namespace keldran
