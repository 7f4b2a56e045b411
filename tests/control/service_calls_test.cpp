// What each IService method does to the host, with the edge cases a client can produce.
#include "support/run_fixture.h"

namespace keldran {
namespace {

class ServiceCallsTest : public testing::RunFixture {
 protected:
  ServiceCallsTest() {
    StartClient();
    // Balloons need the icon and a started client; the window adds the icon.
    (void)host.window.Create(module.DisplayName);
  }
  std::vector<std::string> BalloonTexts() const {
    std::vector<std::string> texts;
    for (const auto& b : fake.dialogs.Balloons()) texts.push_back(b.info);
    return texts;
  }
  std::vector<std::uint32_t> ReportedStates() const {
    std::vector<std::uint32_t> states;
    for (const auto& s : fake.services.StatusReports()) states.push_back(s.currentState);
    return states;
  }
};

TEST_F(ServiceCallsTest, PauseAndResumeAreReportedAndShown) {
  module.RunAsService = true;
  module.StatusHandle = ServiceStatusHandle{1};
  ASSERT_EQ(calls.Pause(), kSOk);
  EXPECT_TRUE(module.Paused);
  ASSERT_EQ(calls.Running(), kSOk);
  EXPECT_FALSE(module.Paused);
  ASSERT_EQ(calls.Running(), kSOk);  // a second heartbeat: nothing more
  EXPECT_EQ(Count(109), 1u);
  EXPECT_EQ(Count(110), 1u);
  EXPECT_EQ(BalloonTexts(),
            (std::vector<std::string>{"The server has paused", "The server has resumed"}));
  EXPECT_EQ(ReportedStates(),
            (std::vector<std::uint32_t>{service_state::kPaused, service_state::kRunning}));
}

TEST_F(ServiceCallsTest, AQuietHostShowsNoPauseBalloons) {
  module.Quiet = true;
  ASSERT_EQ(calls.Pause(), kSOk);
  const WideString text = u"going";
  ASSERT_EQ(calls.Progress(&text, 0), kSOk);
  EXPECT_TRUE(BalloonTexts().empty());
  EXPECT_EQ(Count(110), 1u);
}

TEST_F(ServiceCallsTest, ConnectReportsRunningOncePerClientAndAnswersTheThread) {
  module.RunAsService = true;
  module.StatusHandle = ServiceStatusHandle{1};
  std::int32_t thread = 0;
  ASSERT_EQ(calls.Connect(0x1234, &thread), kSOk);
  ASSERT_EQ(calls.Connect(0x1234, &thread), kSOk);
  EXPECT_EQ(ReportedStates(), std::vector<std::uint32_t>{service_state::kRunning});
  EXPECT_EQ(static_cast<std::uint32_t>(thread), fake.windowing.CurrentThreadId());
  EXPECT_EQ(module.ClientWindow, 0x1234u);
  EXPECT_EQ(module.ClientEventMessage,
            fake.windowing.RegisterWindowMessage("KeldranService_Event"));
  // After a restart the new client's first Connect reports it again.
  ASSERT_EQ(calls.Restart(), kSOk);
  ASSERT_EQ(calls.Connect(0x5678, &thread), kSOk);
  EXPECT_EQ(ReportedStates().size(), 2u);
  // Without Debug the connection is a log line; with it, event 115.
  EXPECT_EQ(Count(115), 0u);
  module.Debug = 1;
  ASSERT_EQ(calls.Connect(0x10, &thread), kSOk);
  EXPECT_EQ(host.Insertions(115), std::vector<std::string>{"16 (0x00000010)"});
}

TEST_F(ServiceCallsTest, LogMapsTypesAndDefaults) {
  const WideString text = u"disk almost full";
  EXPECT_EQ(calls.Log(3, &text, 0, 0), kEInvalidArg);
  EXPECT_EQ(calls.Log(-1, &text, 0, 0), kEInvalidArg);
  EXPECT_TRUE(fake.eventLog.EventsWithId(2000).empty());

  ASSERT_EQ(calls.Log(1, &text, 0, 0), kSOk);
  auto events = fake.eventLog.EventsWithId(2000);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, event_type::kWarning);
  EXPECT_EQ(events[0].category, category::kRun);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"disk almost full"});

  ASSERT_EQ(calls.Log(2, &text, 14, 7001), kSOk);
  ASSERT_EQ(calls.Log(0, nullptr, 0, 0), kSOk);
  auto all = fake.eventLog.Events();
  EXPECT_EQ(all[all.size() - 2].type, event_type::kError);
  EXPECT_EQ(all[all.size() - 2].category, 14u);
  EXPECT_EQ(all[all.size() - 2].id, 7001u);
  EXPECT_EQ(all.back().type, event_type::kInformation);
  EXPECT_EQ(all.back().strings, std::vector<std::string>{""});
}

TEST_F(ServiceCallsTest, ReadIniStringExpandsAndReadsTheFirstEntryOfASection) {
  host.WriteIni("[Service]\r\nCommandLine=x\r\n[Paths]\r\nHome=%INIDIR%\\home\r\nOther=y\r\n");
  module.IniFile = testing::kIniPath;
  module.IniDir = "C:\\Program Files\\Keldran";
  const WideString section = u"Paths", key = u"Home", empty, def = u"%COMP%";
  WideString result;
  ASSERT_EQ(calls.ReadIniString(&section, &key, &empty, &result), kSOk);
  EXPECT_EQ(result, u"C:\\Program Files\\Keldran\\home");
  ASSERT_EQ(calls.ReadIniString(&section, &empty, &empty, &result), kSOk);
  EXPECT_EQ(result, u"Home=C:\\Program Files\\Keldran\\home");
  ASSERT_EQ(calls.ReadIniString(&section, nullptr, nullptr, &result), kSOk);
  EXPECT_EQ(result, u"Home=C:\\Program Files\\Keldran\\home");
  const WideString missing = u"Missing";
  ASSERT_EQ(calls.ReadIniString(&section, &missing, &def, &result), kSOk);
  EXPECT_EQ(result, u"Grid");
}

TEST_F(ServiceCallsTest, StopAndRestartEndOrRenewTheClient) {
  ASSERT_EQ(calls.Restart(), kSOk);
  EXPECT_EQ(Count(119), 1u);
  auto children = fake.processes.Children();
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0].exitCode, 1460u);
  EXPECT_TRUE(children[1].running);

  ASSERT_EQ(calls.Stop(), kSOk);
  EXPECT_EQ(Count(111), 1u);
  EXPECT_FALSE(module.ClientRunning);
}

TEST_F(ServiceCallsTest, VisibilityDebuggingAndTooltipChangeTheHostsState) {
  ASSERT_EQ(calls.NotifyVisible(7), kSOk);
  EXPECT_EQ(module.Show, 1);
  ASSERT_EQ(calls.NotifyCanDebug(1), kSOk);
  EXPECT_TRUE(module.CanDebug);
  ASSERT_EQ(calls.NotifyVisible(0), kSOk);
  EXPECT_EQ(module.Show, 0);

  const WideString tip(200, u't');
  ASSERT_EQ(calls.SetToolTip(&tip), kSOk);
  EXPECT_EQ(module.ToolTipText, tip);
  auto notifications = fake.dialogs.NotifyCalls();
  EXPECT_EQ(notifications.back().data.tip, std::string(127, 't'));  // the tip holds 127
}

TEST_F(ServiceCallsTest, ABalloonWithoutTextRemovesTheOneShown) {
  module.ClientLaunched = true;
  const WideString text = u"Backup done";
  ASSERT_EQ(calls.ShowBalloon(&text, 2), kSOk);
  ASSERT_EQ(calls.ShowBalloon(nullptr, 1), kSOk);
  auto balloons = fake.dialogs.Balloons();
  ASSERT_EQ(balloons.size(), 2u);
  EXPECT_EQ(balloons[0].info, "Backup done");
  EXPECT_EQ(balloons[0].infoFlags, 2u);
  EXPECT_EQ(balloons[0].timeoutOrVersion, 30000u);
  EXPECT_EQ(balloons[1].info, "");
  EXPECT_EQ(balloons[1].infoFlags, 0u);
}

TEST_F(ServiceCallsTest, AWorkerThatCannotBeCreatedLeavesANullPointer) {
  ObjectRef worker = fake::FakeCom::MakeObject("stale");
  ASSERT_EQ(calls.StartWorker(nullptr, &worker), kSOk);
  EXPECT_FALSE(worker);
  EXPECT_EQ(fake.com.LocalServerRequests(),
            std::vector<std::string>{std::string(worker_ids::kClsid) + " " + worker_ids::kIid});
  EXPECT_EQ(calls.StopWorker(0), kSOk);
}

TEST_F(ServiceCallsTest, RequestStopOnlyPostsTheStopMessageToTheWindow) {
  Connect();
  ASSERT_EQ(calls.RequestStop(), kSOk);
  EXPECT_TRUE(module.ClientRunning);  // nothing happens until the window gets the message
  Message message;
  ASSERT_EQ(fake.windowing.GetMessage(&message), 1);
  EXPECT_EQ(message.window, host.window.handle());
  EXPECT_EQ(message.message, module.messages().stop);
}

}  // namespace
}  // namespace keldran
