// The tray icon and the service window as the shell and a person drive them.
#include <algorithm>

#include "support/host_fixture.h"

namespace keldran {
namespace {

constexpr int kShift = 16;
constexpr int kControl = 17;

class TrayTest : public testing::RunFixture {
 protected:
  NotifyIconData LastAdded() const {
    const auto calls = fake.dialogs.NotifyCalls();
    return std::find_if(calls.rbegin(), calls.rend(),
                        [](const auto& call) { return call.operation == notify_icon::kAdd; })
        ->data;
  }
};

struct MenuCase {
  const char* name;
  bool canDebug;
  int debugSetting;
  bool shift, control;
  bool visible;
  const char* third;  // the item after Stop, if any
  bool timeOutReported;
  bool killed;
  friend void PrintTo(const MenuCase& c, std::ostream* os) { *os << c.name; }
};

class TrayMenuTest : public TrayTest, public ::testing::WithParamInterface<MenuCase> {};

// The menu is dismissed every time: offering Debug alone switches the time-out off.
TEST_P(TrayMenuTest, OffersDebugOrHideOnlyWhenTheClientAllowsItAndTheUserAsks) {
  const MenuCase& c = GetParam();
  config.Debug = c.debugSetting;
  ASSERT_EQ(host.window.Create(config.DisplayName), 0u);
  StartClient();
  ASSERT_EQ(calls.NotifyCanDebug(c.canDebug), kSOk);
  ASSERT_EQ(calls.NotifyVisible(c.visible), kSOk);
  const WideString clientTip = u"client tip";
  ASSERT_EQ(calls.SetToolTip(&clientTip), kSOk);
  fake.dialogs.SetKeyDown(kShift, c.shift);
  fake.dialogs.SetKeyDown(kControl, c.control);
  (void)fake.windowing.SendMessage(host.window.handle(), host.messages.trayNotify,
                                   TrayIcon::kIconId, window_message::kRButtonDown);

  const auto menus = fake.dialogs.Menus();
  ASSERT_EQ(menus.size(), 1u);
  std::vector<std::string> expected{"Show Status", "Stop Keldran Grid Agent 3.21"}, texts;
  if (c.third) expected.push_back(c.third);
  for (const auto& item : menus[0].items) texts.push_back(item.text);
  EXPECT_EQ(texts, expected);
  // The client's tooltip was taken away for the menu and is back.
  EXPECT_EQ(fake.dialogs.NotifyCalls().back().data.tip, "client tip");

  Ticks(config.Timeout + 5);
  EXPECT_EQ(Count(107), c.timeOutReported ? 1u : 0u);
  EXPECT_EQ(ClientStarts(), c.killed ? 2u : 1u);
}

const MenuCase kMenuCases[] = {
    {"NoDebugForAClientThatForbidsIt", false, 0, true, true, false, nullptr, true, true},
    {"ShiftAloneIsNotEnough", true, 0, true, false, false, nullptr, true, true},
    {"DebugSetting", true, 1, false, false, false, "Debug", false, false},
    {"ShiftControlDismissed", true, 0, true, true, false, "Debug", false, false},
    {"HideForAVisibleClient", true, 0, true, true, true, "Hide", true, false}};
INSTANTIATE_TEST_SUITE_P(ByState, TrayMenuTest, ::testing::ValuesIn(kMenuCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Cancel leaves the client running; OK stops the host as any stop does.
TEST_F(TrayTest, StopFromTheMenuAsksFirstAndOnlyOkStops) {
  fake.dialogs.SetMenuChoice(tray_command::kStop);
  fake.dialogs.QueueBoxAnswer(message_box::kIdCancel);
  WindowHandle window = 0;
  auto rightClick = [&] {
    (void)fake.windowing.PostMessage(window, host.messages.trayNotify, TrayIcon::kIconId,
                                     window_message::kRButtonDown);
  };
  bool untouchedByCancel = false;
  fake.clock.After(2000, [&] {
    Connect();
    window = host.window.handle();
    rightClick();
  });
  fake.clock.After(3000, [&] {
    untouchedByCancel =
        fake.dialogs.Boxes().size() == 1 && supervisor.ClientRunning() && ClientEvents().empty();
    rightClick();
  });
  RunHost();
  EXPECT_TRUE(untouchedByCancel);
  ASSERT_EQ(fake.dialogs.Boxes().size(), 2u);
  EXPECT_EQ(fake.dialogs.Boxes()[1].style, 0x1021u);  // OK and Cancel, question icon, system modal
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_TRUE(fake.windowing.Windows().empty());
  EXPECT_EQ(fake.dialogs.NotifyCalls().back().operation, notify_icon::kDelete);  // no stale icon
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(TrayTest, ANewTaskbarGetsTheIconBackWithTheDisplayNameAndThePendingNotice) {
  // Tooltip, balloon text and balloon title are cut to 127, 255 and 63 characters.
  config.DisplayName = std::string(70, 'n') + std::string(130, 'N');
  ASSERT_EQ(host.window.Create(config.DisplayName), 0u);
  const WindowHandle window = host.window.handle();
  // Before any client has started a notice waits.
  (void)host.events.logError(category::kRun, 1001, "disk full");
  EXPECT_TRUE(fake.dialogs.Balloons().empty());
  StartClient();
  const WideString clientTip(200, u't');
  ASSERT_EQ(calls.SetToolTip(&clientTip), kSOk);
  EXPECT_EQ(fake.dialogs.NotifyCalls().back().data.tip, std::string(127, 't'));

  const std::size_t before = fake.dialogs.NotifyCalls().size();
  (void)fake.windowing.SendMessage(window, host.messages.taskbarCreated, 0, 0);
  EXPECT_EQ(fake.dialogs.NotifyCalls().at(before).operation, notify_icon::kDelete);  // old first
  const auto added = LastAdded();
  EXPECT_EQ(added.tip, config.DisplayName.substr(0, 127));  // the client's tip is not restored
  EXPECT_EQ(fake.windowing.IconFileOf(added.icon), "#201");
  const auto balloons = fake.dialogs.Balloons();
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_NE(balloons[0].info.find("disk full"), std::string::npos) << balloons[0].info;
  EXPECT_EQ(balloons[0].infoFlags, notice_kind::kError);
  EXPECT_EQ(balloons[0].infoTitle, config.DisplayName.substr(0, 63));
  EXPECT_FALSE(host.window.tray().pendingText());

  const WideString text = WideString(250, u'b') + WideString(50, u'B');
  ASSERT_EQ(calls.ShowBalloon(&text, 2), kSOk);
  EXPECT_EQ(fake.dialogs.Balloons().back().info, std::string(250, 'b') + std::string(5, 'B'));
}

TEST_F(TrayTest, IconsComeFromTheIconFileOrElseFromResource201) {
  fake.files.AddFile("C:\\Grid\\grid.ico", "icon");
  for (const auto& [file, shown] : {std::pair{"C:\\Grid\\missing.ico", "#201"},
                                    std::pair{"C:\\Grid\\grid.ico", "C:\\Grid\\grid.ico"}}) {
    config.IconFile = file;
    ASSERT_EQ(host.window.Create(config.DisplayName), 0u);
    EXPECT_EQ(fake.windowing.IconFileOf(LastAdded().icon), shown);
    host.window.DestroyServiceWindow();
  }
}

}  // namespace
}  // namespace keldran
