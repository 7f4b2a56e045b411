// The component's events as notices before any client runs: the exit notice's text.
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
  host.ShowExitNotice();
  const auto boxes = fake.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Cannot create registry key: second");
  EXPECT_EQ(boxes[0].caption, "Keldran Grid Service");
  EXPECT_EQ(boxes[0].style, 0x10030u);  // with the icon of its kind
  EXPECT_FALSE(tray.pendingText());
  EXPECT_TRUE(fake.dialogs.Balloons().empty());
}

}  // namespace
}  // namespace keldran
