// The component's events as notices: balloons once a client runs, else the exit notice's text.
#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace keldran {
namespace {

class ComponentLogTest : public testing::HostFixture {
 protected:
  ComponentLogTest() {
    ConfigureGrid();
    config.DisplayName = "Keldran Grid Service";
  }

  ComponentLog& events = host.events;
  TrayIcon& tray = host.window.tray();
};

TEST_F(ComponentLogTest, BeforeAnyClientTheLastNoticeWaitsForTheExitNoticeToShowItOnce) {
  events.logError(category::kStartup, 116, "first");
  EXPECT_EQ(tray.pendingText(), "Startup failed: first");
  EXPECT_EQ(tray.pendingKind(), notice_kind::kError);
  events.logWarning(category::kInstall, 113, "second");
  events.logInfo(category::kStartup, 103, "quiet");  // information counts only while debugging
  host.ShowExitNotice();
  config.Debug = 1;
  events.logInfo(category::kStartup, 103, "loud");
  host.ShowExitNotice();
  host.ShowExitNotice();
  events.logError(category::kStartup, 116, "x");
  host.ShowExitNotice();
  const std::pair<std::string, std::uint32_t> shown[] = {
      {"Cannot create registry key: second", 0x10030},  // with the icon of its kind
      {"Service started loud", 0x10040},
      {"Startup failed: x", 0x10010}};
  const auto boxes = fake.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(boxes[i].owner, 0u);
    EXPECT_EQ(boxes[i].text, shown[i].first);
    EXPECT_EQ(boxes[i].caption, "Keldran Grid Service");
    EXPECT_EQ(boxes[i].style, shown[i].second);
  }
  EXPECT_FALSE(tray.pendingText());
  EXPECT_TRUE(fake.dialogs.Balloons().empty());
}

TEST_F(ComponentLogTest, OnceAClientHasStartedEventsBecomeBalloonsAndNoExitNotice) {
  tray.AddOrModify(0x5150, IconHandle{}, "tip");  // as the service window's creation does
  fake.processes.AddProgram("C:\\c.exe", {});
  config.CommandLine = "C:\\c.exe";
  ASSERT_TRUE(supervisor.LaunchClient());
  events.logWarning(category::kRun, 113, "key");
  events.logInfo(category::kRun, 103, "not while debugging is off");
  const auto balloons = fake.dialogs.Balloons();
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_EQ(balloons[0].info, "Cannot create registry key: key");
  EXPECT_EQ(balloons[0].infoFlags, notice_kind::kWarning);
  EXPECT_EQ(balloons[0].infoTitle, "Keldran Grid Service");
  EXPECT_EQ(balloons[0].timeoutOrVersion, 30000u);
  host.ShowExitNotice();
  EXPECT_TRUE(fake.dialogs.Boxes().empty());
}

}  // namespace
}  // namespace keldran
