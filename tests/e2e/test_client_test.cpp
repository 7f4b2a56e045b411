// KeldranTestClient against a stand-in host: it finds the host by its ServiceID, connects with
// its window, sends what its script says early and late bound, reacts to the host's event
// message and ends with the right exit code. Every other end-to-end test relies on this client.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "support_win32/e2e_support.h"
#include "support_win32/stand_in_host.h"

namespace keldran::test {
namespace {

constexpr DWORD kWaitMs = 15000;

class TestClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { typeLib_ = new TypeLibRegistration(AgentExePath()); }
  static void TearDownTestSuite() {
    delete typeLib_;
    typeLib_ = nullptr;
  }

  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(typeLib_->result());
    ASSERT_HRESULT_SUCCEEDED(host_.Start());
    ASSERT_FALSE(dir_.path().empty());
  }

  // Starts the client the way the host does: our options first, the host's two at the end.
  void StartClient(const std::string& options) {
    const std::string line = "\"" + ProgramPath("KeldranTestClient.exe") + "\" /out=\"" +
                             OutFile() + "\" " + options + " /ServiceID=" + host_.serviceId() +
                             " /ServiceName=Stand In Service";
    ASSERT_EQ(client_.Start(line), 0u);
  }

  std::string OutFile() const { return dir_.File("client.out"); }
  std::string Out() const { return dir_.Read("client.out"); }
  bool OutHas(const std::string& text) const { return Out().find(text) != std::string::npos; }
  bool WaitForOut(const std::string& text) const {
    return WaitUntil([&] { return OutHas(text); }, kWaitMs);
  }
  bool HostGot(const std::string& call) const {
    const std::vector<std::string> calls = host_.Calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
  bool WaitForCall(const std::string& call) const {
    return WaitUntil([&] { return HostGot(call); }, kWaitMs);
  }
  void PostEvent(WPARAM code) {
    ASSERT_TRUE(PostMessageA(host_.clientWindow(), RegisterWindowMessageA("KeldranService_Event"),
                             code, 0));
  }

  static TypeLibRegistration* typeLib_;
  StandInHost host_;
  ScratchDir dir_;
  ChildProcess client_;
};

TypeLibRegistration* TestClientTest::typeLib_ = nullptr;

TEST_F(TestClientTest, ConnectsWithItsWindowAndSendsHeartbeatsProgressAndLog) {
  StartClient(
      "/instance=7 \"/do=heartbeat=100;progress=busy, still busy,30;call=Log(1,hello there)\"");
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("Running") >= 2; }, kWaitMs)) << Out();

  const std::vector<std::string> calls = host_.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].rfind("Connect hwnd=", 0), 0u) << calls[0];
  EXPECT_TRUE(HostGot("Progress timeout=30 text=busy, still busy"));
  EXPECT_TRUE(HostGot("Log type=1 cat=0 msg=0 text=hello there"));

  // The window it connected with is a real top-level window of the client process.
  HWND window = host_.clientWindow();
  ASSERT_TRUE(IsWindow(window));
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(owner, client_.Id());
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_FALSE(IsWindowVisible(window));

  const std::string out = Out();
  char start[64];
  std::snprintf(start, sizeof start, "start instance=7 pid=%lu ",
                static_cast<unsigned long>(client_.Id()));
  EXPECT_NE(out.find(start), std::string::npos) << out;
  EXPECT_NE(out.find("servicename=Stand In Service"), std::string::npos) << out;
  char connected[64];
  std::snprintf(connected, sizeof connected, "connected thread=%lu ",
                static_cast<unsigned long>(host_.threadId()));
  EXPECT_NE(out.find(connected), std::string::npos) << out;
  EXPECT_NE(out.find("call Progress hr=0x00000000"), std::string::npos) << out;
  EXPECT_NE(out.find("call Running hr=0x00000000"), std::string::npos) << out;
}

TEST_F(TestClientTest, LateBoundCallsFindMethodsByNameAndGetDeclaredDefaults) {
  StartClient(
      "\"/do=dispatch=ShowBalloon(late balloon);dispatch=Log(2,late log);"
      "dispatch=ReadIniString(Service,LogDir,fallback);dispatch=NoSuchMethod()\"");
  ASSERT_TRUE(WaitForOut("dispatch NoSuchMethod")) << Out();

  // Omitted optional arguments arrive with their declared defaults: Type 1, Cat 0, MsgNumber 0.
  EXPECT_TRUE(HostGot("ShowBalloon type=1 text=late balloon"));
  EXPECT_TRUE(HostGot("Log type=2 cat=0 msg=0 text=late log"));
  EXPECT_TRUE(HostGot("ReadIniString Service/LogDir/fallback"));
  EXPECT_TRUE(OutHas("dispatch ReadIniString hr=0x00000000 value=Service/LogDir/fallback"))
      << Out();
  EXPECT_TRUE(OutHas("dispatch NoSuchMethod hr=0x80020006")) << Out();  // DISP_E_UNKNOWNNAME
}

TEST_F(TestClientTest, ScriptFileDrivesEveryKindOfCall) {
  ASSERT_TRUE(dir_.Write("script.txt",
                         "# one step a line; ';' also separates\r\n"
                         "call=SetToolTip(tip text);call=DeleteFileOnTimeout(C:\\x)\r\n"
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
  StartClient("\"/script=" + dir_.File("script.txt") + "\"");
  ASSERT_TRUE(client_.WaitForExit(kWaitMs)) << Out();
  EXPECT_EQ(client_.ExitCode(), 0x80004005u);

  const std::vector<std::string> expected = {"SetToolTip tip text",
                                             "DeleteFileOnTimeout C:\\x",
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
  calls.erase(calls.begin());  // Connect
  EXPECT_EQ(calls, expected);
  EXPECT_TRUE(OutHas("call ReadIniString hr=0x00000000 value=Service/LogDir/")) << Out();
  EXPECT_TRUE(OutHas("exit 2147500037")) << Out();
  EXPECT_FALSE(OutHas("unknown step")) << Out();
}

// The tick count at the start of the first out-file line that holds the text; 0 if none.
unsigned long StampOf(const std::string& out, const std::string& text) {
  const size_t at = out.find(text);
  if (at == std::string::npos) return 0;
  const size_t lineStart = out.rfind('\n', at);
  return std::strtoul(out.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 1), nullptr,
                      10);
}

TEST_F(TestClientTest, SilenceAndWaitHoldBackHeartbeatsAndLaterSteps) {
  StartClient("\"/do=heartbeat=50;silent;wait=400;call=SetToolTip(after wait)\"");
  ASSERT_TRUE(WaitForCall("SetToolTip after wait")) << Out();
  EXPECT_EQ(host_.Count("Running"), 0u);
  std::string out = Out();
  EXPECT_GE(StampOf(out, "step call=SetToolTip"), StampOf(out, "step wait=400") + 400) << out;
  PostEvent(1);
  ASSERT_TRUE(client_.WaitForExit(kWaitMs));

  // Silent for one second, then the heartbeats come back.
  ChildProcess second;
  const std::string line = "\"" + ProgramPath("KeldranTestClient.exe") + "\" /out=\"" +
                           dir_.File("second.out") +
                           "\" /do=heartbeat=50;silent=1 /ServiceID=" + host_.serviceId() +
                           " /ServiceName=Stand In Service";
  ASSERT_EQ(second.Start(line), 0u);
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("Running") > 0; }, kWaitMs));
  out = dir_.Read("second.out");
  EXPECT_GE(StampOf(out, "call Running"), StampOf(out, "step silent=1") + 1000) << out;
}

TEST_F(TestClientTest, EndsWithZeroWhenTheHostPostsStop) {
  StartClient("\"/do=answerpings;heartbeat=5000\"");
  ASSERT_TRUE(WaitForOut("step heartbeat")) << Out();
  const size_t runningBefore = host_.Count("Running");

  PostEvent(4);  // ping: answered with Running
  ASSERT_TRUE(WaitForOut("event 4 ping")) << Out();
  EXPECT_TRUE(WaitUntil([&] { return host_.Count("Running") > runningBefore; }, kWaitMs));
  PostEvent(8);
  ASSERT_TRUE(WaitForOut("event 8 show")) << Out();
  EXPECT_TRUE(client_.IsRunning());

  PostEvent(1);
  ASSERT_TRUE(client_.WaitForExit(kWaitMs)) << Out();
  EXPECT_EQ(client_.ExitCode(), 0u);
  EXPECT_TRUE(OutHas("event 1 stop")) << Out();
  EXPECT_TRUE(OutHas("exit 0")) << Out();
}

TEST_F(TestClientTest, EndStepAndShutdownEventBothEndWithZero) {
  StartClient("/do=end");
  ASSERT_TRUE(client_.WaitForExit(kWaitMs)) << Out();
  EXPECT_EQ(client_.ExitCode(), 0u);

  ChildProcess second;
  const std::string line = "\"" + ProgramPath("KeldranTestClient.exe") + "\" /out=\"" + OutFile() +
                           "\" /instance=2 /ServiceID=" + host_.serviceId() +
                           " /ServiceName=Stand In Service";
  ASSERT_EQ(second.Start(line), 0u);
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("Connect") == 2; }, kWaitMs)) << Out();
  PostEvent(5);
  ASSERT_TRUE(second.WaitForExit(kWaitMs)) << Out();
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_TRUE(OutHas("event 5 shutdown")) << Out();
}

}  // namespace
}  // namespace keldran::test
