// The component's logging forms and the notices the tray makes of events: balloons once a
// client runs, before that the pending notice that the exit notice shows.
#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace keldran {
namespace {

class ComponentLogTest : public testing::HostFixture {
 protected:
  static constexpr WindowHandle kServiceWindow = 0x5150;

  // Puts the tray icon into the notification area, as the service window's creation does.
  void AddTrayIcon() { window.tray().AddOrModify(kServiceWindow, IconHandle{}, "tip"); }

  ComponentLogTest() {
    fake.files.AddDirectory("C:\\Logs");
    log.setLogDir("C:\\Logs");
    log.setEventSourceName("KeldranGridAgent321");
    config.DisplayName = "Keldran Grid Service";
    config.LogPre = "Grid";
  }
  void LaunchClient() {
    fake.processes.AddProgram("C:\\c.exe", {});
    config.CommandLine = "C:\\c.exe";
    ASSERT_TRUE(supervisor.LaunchClient());
  }

  std::string DayFile() const {
    return fake.files.FileContent("C:\\Logs\\2024-03-01.log").value_or("");
  }

  Log& log = host.log;
  ComponentLog& events = host.events;
  CServiceWin& window = host.window;
};

TEST_F(ComponentLogTest, RecordsCarryTheLogPrefixAsTag) {
  events.logDebug("with prefix");
  config.LogPre = "";
  events.logDebug("without");
  EXPECT_EQ(DayFile(), "\r\n\r\n#09:00:00.000#Grid# with prefix\r\n\r\n#09:00:00.000## without");
}

TEST_F(ComponentLogTest, ShortFormsWriteEventsOfTheirType) {
  EXPECT_EQ(events.logError(category::kStartup, 116, "a", nullptr, "c", "d"), kEFail);
  events.logWarning(category::kInstall, 112, "w1", "w2");
  events.logInfo(category::kStartup, 103, "i");
  const auto events = fake.eventLog.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].type, event_type::kError);
  EXPECT_EQ(events[0].category, 3);
  EXPECT_EQ(events[0].id, 116u);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"a c d"});
  EXPECT_EQ(events[1].type, event_type::kWarning);
  EXPECT_EQ(events[1].strings, std::vector<std::string>{"w1 w2"});
  EXPECT_EQ(events[2].type, event_type::kInformation);
  EXPECT_EQ(events[0].source, "KeldranGridAgent321");
  EXPECT_NE(DayFile().find("#Grid# ==================== ERROR.Log"), std::string::npos);
}

TEST_F(ComponentLogTest, BeforeAnyClientTheLastNoticeWaitsAndInformationCountsOnlyWhileDebugging) {
  events.logError(category::kStartup, 116, "first");
  EXPECT_EQ(window.tray().pendingText(), "Startup failed: first");
  EXPECT_EQ(window.tray().pendingKind(), notice_kind::kError);
  events.logWarning(category::kInstall, 113, "second");
  EXPECT_EQ(window.tray().pendingText(), "Cannot create registry key: second");
  EXPECT_EQ(window.tray().pendingKind(), notice_kind::kWarning);
  events.logInfo(category::kStartup, 103, "quiet");
  EXPECT_EQ(window.tray().pendingText(), "Cannot create registry key: second");
  config.Debug = 1;
  events.logInfo(category::kStartup, 103, "loud");
  EXPECT_EQ(window.tray().pendingText(), "Service started loud");
  EXPECT_EQ(window.tray().pendingKind(), notice_kind::kInformation);
  EXPECT_TRUE(fake.dialogs.Balloons().empty());
}

TEST_F(ComponentLogTest, ExitNoticeShowsThePendingNoticeOnceWithItsIcon) {
  const std::pair<std::uint16_t, std::uint32_t> kinds[] = {{event_type::kError, 0x10010},
                                                           {event_type::kWarning, 0x10030},
                                                           {event_type::kInformation, 0x10040}};
  config.Debug = 1;
  for (const auto& [type, style] : kinds) {
    const char* strings[] = {"x"};
    events.logEvent(type, category::kStartup, 116, strings, 1);
    host.ShowExitNotice();
    host.ShowExitNotice();
  }
  const auto boxes = fake.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(boxes[i].owner, 0u);
    EXPECT_EQ(boxes[i].text, "Startup failed: x");
    EXPECT_EQ(boxes[i].caption, "Keldran Grid Service");
    EXPECT_EQ(boxes[i].style, kinds[i].second);
  }
  EXPECT_FALSE(window.tray().pendingText());
}

TEST_F(ComponentLogTest, OnceAClientHasStartedEventsBecomeBalloonsAndNoExitNotice) {
  AddTrayIcon();
  LaunchClient();
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

TEST_F(ComponentLogTest, NoticeWaitingFromBeforeTheClientShowsWhenTheIconIsAddedAgain) {
  AddTrayIcon();
  events.logError(category::kStartup, 106, "early");
  EXPECT_TRUE(fake.dialogs.Balloons().empty());
  LaunchClient();
  window.tray().Remove();
  AddTrayIcon();
  const auto balloons = fake.dialogs.Balloons();
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_EQ(balloons[0].info, "Client NOT started early");
  EXPECT_EQ(balloons[0].infoFlags, notice_kind::kError);
}

}  // namespace
}  // namespace keldran
