// The real host as the machine's one Windows service under Wine's Service Control Manager,
// installed by its own /RegService, and the ways a service run ends.
#include <map>
#include <vector>

#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kWaitMs = 20000;
constexpr char kServiceName[] = "KeldranGridAgent321";

DWORD CurrentState(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

void RemoveService() {
  const ScHandle service = OpenServiceNamed(kServiceName);
  if (!service) return;
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    (void)WaitUntil([&] { return CurrentState(service.get()) == SERVICE_STOPPED; }, kWaitMs);
  }
  DeleteService(service.get());
}

class HostServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveService(); }  // a leftover of an interrupted run
  void TearDown() override {
    RemoveService();
    DeleteFileA(iniPath_.c_str());
  }

  void RegisterAndStart(HostRun& run, HostSetup setup) {
    setup.component = "Grid";
    setup.asService = true;
    setup.timeoutSeconds = 30;
    ASSERT_TRUE(run.Prepare(setup, iniPath_));
    service_ = OpenServiceNamed(kServiceName);
    ASSERT_TRUE(service_) << GetLastError();
    ASSERT_TRUE(StartServiceA(service_.get(), 0, nullptr)) << GetLastError();
  }
  std::unique_ptr<ProcessWatch> WatchHost() {
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<BYTE*>(&process), sizeof process, &needed));
    return std::make_unique<ProcessWatch>(process.dwProcessId);
  }
  // The last status once stopped, by the control or by itself; the handle goes so that the
  // unregistration can delete the service.
  SERVICE_STATUS Stopped(const HostRun& run, bool control) {
    SERVICE_STATUS status{};
    EXPECT_TRUE(!control || ControlService(service_.get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(PollUntil(SERVICE_STOPPED)) << run.Log() << run.Out();
    EXPECT_TRUE(QueryServiceStatus(service_.get(), &status)) << GetLastError();
    service_.reset();
    return status;
  }
  // Records the tick count when each state is first seen.
  bool PollUntil(DWORD wanted) {
    return WaitUntil(
        [&] {
          const DWORD state = CurrentState(service_.get());
          firstSeen_.try_emplace(state, GetTickCount());
          return state == wanted;
        },
        kWaitMs, 5);
  }

  ComApartment apartment_;
  ScHandle service_{nullptr, &CloseServiceHandle};
  const std::string iniPath_ = ExeDir() + "\\KeldranGridAgent.INI";
  std::map<DWORD, DWORD> firstSeen_;
};

TEST_F(HostServiceTest, ReportsRunningAfterTheClientConnectsAndStopReachesTheClient) {
  HostRun run;
  HostSetup setup;
  // The client takes its time before it connects: the service stays start-pending meanwhile.
  setup.clientOptions = "/delay=1500";
  setup.script = "heartbeat=250\n";
  RegisterAndStart(run, setup);
  ASSERT_TRUE(PollUntil(SERVICE_RUNNING)) << run.Log() << run.Out();
  ASSERT_TRUE(run.WaitForOut("connected thread=", kWaitMs)) << run.Out();
  EXPECT_TRUE(IsInRunningObjectTable(run.serviceId()));

  const std::string out = run.Out();
  const DWORD running = firstSeen_[SERVICE_RUNNING];
  EXPECT_TRUE(firstSeen_.count(SERVICE_START_PENDING));
  // Running waits for the client to connect.
  EXPECT_GE(running, StampOf(out, " start instance=") + 1400) << out;

  const std::vector<DWORD> pids = ClientPids(out);
  ASSERT_EQ(pids.size(), 1u);
  ProcessWatch client(pids[0]);
  const auto host = WatchHost();
  ASSERT_TRUE(client.valid() && host->valid());
  EXPECT_EQ(Stopped(run, true).dwWin32ExitCode, 0u);
  ASSERT_TRUE(client.WaitForExit(kWaitMs));
  EXPECT_EQ(client.ExitCode(), 0u) << run.Out();
  EXPECT_TRUE(run.OutHas("event 1 stop")) << run.Out();
  // Stopped is reported before the run loop has shut down: the process must still finish that
  // shutdown and end cleanly, not be torn down under it (a crash once).
  ASSERT_TRUE(host->WaitForExit(kWaitMs));
  EXPECT_EQ(host->ExitCode(), 0u);
  EXPECT_FALSE(IsInRunningObjectTable(run.serviceId()));
  EXPECT_EQ(run.LogCount("Service stopped"), 1u) << run.Log();
  EXPECT_FALSE(run.LogHas("as application")) << run.Log();
}

// Every other way a service run ends writes "Service stopped" once and leaves the SCM the run's
// outcome (a failed restart's own code, so that recovery fires). A client ending on its own
// while the stop waits for it is no death.
TEST_F(HostServiceTest, EveryWayARunEndsWritesServiceStoppedOnceAndTheRightExitCode) {
  enum How { kByClient, kWindowMessage, kFailedRestart, kEndsDuringStop };
  const std::pair<How, const char*> endings[] = {
      {kByClient, "heartbeat=250\nwait=1000\ncall=Stop()\n"},
      {kByClient, "heartbeat=250\nwait=1000\ncall=RequestStop()\n"},
      // The message that the tray's confirmed Stop also ends in.
      {kWindowMessage, "heartbeat=250\n"},
      // Its program is gone by the time it is to be started again.
      {kFailedRestart, "heartbeat=250\nwait=1500\nexit=3\n"},
      {kEndsDuringStop, "heartbeat=250\nignorestop\nwait=2500\nend\n"},
  };
  for (const auto& [how, script] : endings) {
    SCOPED_TRACE(how);
    HostRun run;
    HostSetup setup;
    setup.script = script;
    const std::string program = run.dir().File("client-copy.exe");
    if (how == kFailedRestart) {
      ASSERT_TRUE(CopyFileA(ProgramPath("KeldranTestClient.exe").c_str(), program.c_str(), TRUE));
      setup.clientCommand = "\"" + program + "\" /script=first.txt /out=client.out";
    }
    RegisterAndStart(run, setup);
    ASSERT_TRUE(run.WaitForOut("connected thread=", kWaitMs)) << run.Out() << run.Log();
    const auto host = WatchHost();
    ASSERT_TRUE(how != kFailedRestart ||
                MoveFileA(program.c_str(), run.dir().File("client-gone.exe").c_str()));
    // The host's hidden top-level window is the only one that knows the message.
    ASSERT_TRUE(
        how != kWindowMessage ||
        PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("KeldranService Stop Message"), 0, 0));
    if (how == kEndsDuringStop) Sleep(1000);
    const SERVICE_STATUS last = Stopped(run, how == kEndsDuringStop);
    ASSERT_TRUE(host->WaitForExit(kWaitMs));
    const std::string log = run.Log();
    EXPECT_EQ(run.LogCount("Service stopped"), 1u) << log;
    EXPECT_EQ(run.LogCount("Client stopped unexpectedly"), how == kFailedRestart ? 1u : 0u) << log;
    EXPECT_EQ(run.LogCount("Client started"), 1u) << log;
    if (how == kFailedRestart) {
      EXPECT_EQ(last.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
      EXPECT_EQ(last.dwServiceSpecificExitCode, 0x80070002u) << log;
      EXPECT_EQ(host->ExitCode(), 0x80004005u);
      EXPECT_LT(log.find("Client NOT started"), log.find("Service stopped")) << log;
    } else {
      EXPECT_EQ(last.dwWin32ExitCode, 0u) << log;
      EXPECT_EQ(host->ExitCode(), 0u) << log;
    }
  }
}

}  // namespace
}  // namespace keldran::test
