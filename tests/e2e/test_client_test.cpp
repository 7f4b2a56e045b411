// KeldranTestClient against a stand-in host: it finds the host by its ServiceID, connects with
// its window, does what its script says, reacts to the host's event message and ends with the
// right exit code. Every other end-to-end test relies on this client; they also cover its
// heartbeats, silence, late-bound calls, /once, /later and /delay under the real host.
#include <cstdio>

#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kWaitMs = 15000;

class TestClientTest : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_HRESULT_SUCCEEDED(host_.Start());
    ASSERT_FALSE(dir_.path().empty());
  }

  // Starts a client the way the host does: our options first, the host's two at the end.
  void StartClient(ChildProcess& client, const std::string& options) {
    const std::string line = "\"" + ProgramPath("KeldranTestClient.exe") + "\" /out=\"" +
                             dir_.File("client.out") + "\" " + options +
                             " /ServiceID=" + host_.serviceId() + " /ServiceName=Stand In Service";
    ASSERT_EQ(client.Start(line), 0u);
  }

  std::string Out() const { return dir_.Read("client.out"); }
  bool OutHas(const std::string& text) const { return Out().find(text) != std::string::npos; }
  bool WaitForOut(const std::string& text) const {
    return WaitUntil([&] { return OutHas(text); }, kWaitMs);
  }
  void PostEvent(WPARAM code) {
    ASSERT_TRUE(PostMessageA(host_.clientWindow(), RegisterWindowMessageA("KeldranService_Event"),
                             code, 0));
  }

  StandInHost host_;
  ScratchDir dir_;
  ChildProcess client_;
};

TEST_F(TestClientTest, ConnectsWithItsHiddenWindowAndMakesEveryCallOfItsScriptFile) {
  ASSERT_TRUE(dir_.Write("script.txt",
                         "# one step a line; ';' also separates\r\n"
                         "progress=busy, still busy,30\r\n"
                         "call=SetToolTip(tip text);call=DeleteFileOnTimeout(C:\\x)\r\n"
                         "call=Log(1,hello there)\r\n"
                         "call=NotifyVisible(1)\r\n"
                         "call=NotifyCanDebug(0)\r\n"
                         "call=ShowBalloon()\r\n"
                         "call=ReadIniString(Service,LogDir,)\r\n"
                         "pause\r\n"
                         "resume\r\n"
                         "call=RequestStop()\r\n"
                         "call=Restart()\r\n"
                         "call=Stop()\r\n"
                         "exit=0x80004005\r\n"));
  StartClient(client_, "/instance=7 \"/script=" + dir_.File("script.txt") + "\"");
  ASSERT_TRUE(client_.WaitForExit(kWaitMs)) << Out();
  EXPECT_EQ(client_.ExitCode(), 0x80004005u);

  const std::vector<std::string> expected = {"Progress timeout=30 text=busy, still busy",
                                             "SetToolTip tip text",
                                             "DeleteFileOnTimeout C:\\x",
                                             "Log type=1 cat=0 msg=0 text=hello there",
                                             "NotifyVisible 1",
                                             "NotifyCanDebug 0",
                                             "ShowBalloon type=1 text=<null>",
                                             "ReadIniString Service/LogDir/",
                                             "Pause",
                                             "Running",
                                             "RequestStop",
                                             "Restart",
                                             "Stop"};
  std::vector<std::string> calls = host_.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].rfind("Connect hwnd=", 0), 0u) << calls[0];
  calls.erase(calls.begin());
  EXPECT_EQ(calls, expected);

  // The window it connected with was a top-level window of the client process, never shown.
  const std::string out = Out();
  char start[64];
  std::snprintf(start, sizeof start, "start instance=7 pid=%lu ",
                static_cast<unsigned long>(client_.Id()));
  EXPECT_NE(out.find(start), std::string::npos) << out;
  EXPECT_NE(out.find("servicename=Stand In Service"), std::string::npos) << out;
  char connected[80];
  std::snprintf(connected, sizeof connected, "connected thread=%lu hwnd=%lu ",
                static_cast<unsigned long>(host_.threadId()),
                static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(host_.clientWindow())));
  EXPECT_NE(out.find(connected), std::string::npos) << out;
  EXPECT_TRUE(OutHas("call ReadIniString hr=0x00000000 value=Service/LogDir/")) << out;
  EXPECT_TRUE(OutHas("exit 2147500037")) << out;
  EXPECT_FALSE(OutHas("unknown step")) << out;
}

TEST_F(TestClientTest, AnswersPingsAndEndsWithZeroOnTheHostsStopOrShutdown) {
  StartClient(client_, "\"/do=answerpings;heartbeat=5000\"");
  ASSERT_TRUE(WaitForOut("step heartbeat")) << Out();
  HWND window = host_.clientWindow();
  ASSERT_TRUE(IsWindow(window));
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(owner, client_.Id());
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_FALSE(IsWindowVisible(window));

  PostEvent(4);  // ping: answered with Running
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("Running") == 1; }, kWaitMs)) << Out();
  EXPECT_TRUE(OutHas("event 4 ping")) << Out();
  PostEvent(8);
  ASSERT_TRUE(WaitForOut("event 8 show")) << Out();
  EXPECT_TRUE(client_.IsRunning());
  PostEvent(1);
  ASSERT_TRUE(client_.WaitForExit(kWaitMs)) << Out();
  EXPECT_EQ(client_.ExitCode(), 0u);
  EXPECT_TRUE(OutHas("event 1 stop")) << Out();

  // Silent for its first second, then heartbeats; the shutdown event ends it too.
  ChildProcess second;
  StartClient(second, "/instance=2 /do=heartbeat=50;silent=1");
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("Running") > 1; }, kWaitMs)) << Out();
  const unsigned long silent = StampOf(Out(), "step silent=1");
  const unsigned long running = StampOf(Out(), "call Running", 1);
  EXPECT_GE(running, silent + 1000) << Out();
  PostEvent(5);
  ASSERT_TRUE(second.WaitForExit(kWaitMs)) << Out();
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_TRUE(OutHas("event 5 shutdown")) << Out();
}

}  // namespace
}  // namespace keldran::test
