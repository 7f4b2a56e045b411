// The real host as a Windows service under Wine's Service Control Manager, installed by the
// host's own /RegService: the one service of the machine runs the component "Grid" with the INI
// file beside the executable. It reports itself running only once its client has connected, and
// the stop control reaches the client before the host ends.
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

// Stops (if it runs) and deletes the service; nothing when there is none.
void RemoveService() {
  const ScHandle service = OpenServiceNamed(kServiceName);
  if (!service) return;
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    (void)WaitUntil([&] { return CurrentState(service.get()) == SERVICE_STOPPED; }, kWaitMs);
  }
  DeleteService(service.get());
}

// A service state seen by polling, with the tick count when it was first seen.
struct StateSeen {
  DWORD state;
  DWORD tick;
};

class HostServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveService(); }  // a leftover of an interrupted run
  void TearDown() override {
    RemoveService();
    DeleteFileA(iniPath_.c_str());
  }

  // Registers "Grid" as the service with the client's script and starts it.
  void RegisterAndStart(HostRun& run, HostSetup setup) {
    setup.component = "Grid";
    setup.asService = true;
    setup.timeoutSeconds = 30;
    ASSERT_TRUE(run.Prepare(setup, iniPath_));
    service_ = OpenServiceNamed(kServiceName);
    ASSERT_TRUE(service_) << GetLastError();
    ASSERT_TRUE(StartServiceA(service_.get(), 0, nullptr)) << GetLastError();
  }
  // The service's process, held so that its end can be awaited.
  std::unique_ptr<ProcessWatch> WatchHost() {
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO,
                                     reinterpret_cast<BYTE*>(&process), sizeof process, &needed));
    return std::make_unique<ProcessWatch>(process.dwProcessId);
  }
  // Waits until the service has stopped by itself; its last status.
  SERVICE_STATUS WaitForStopped(const HostRun& run) {
    EXPECT_TRUE(PollUntil(SERVICE_STOPPED)) << run.Log() << run.Out();
    return LastStatus();
  }
  // Stops the service and lets go of it, so that the unregistration can delete it; its last
  // status.
  SERVICE_STATUS StopService(const HostRun& run) {
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(PollUntil(SERVICE_STOPPED)) << run.Log();
    status = LastStatus();
    service_.reset();
    return status;
  }
  // Polls the state every few milliseconds until it is the wanted one; records every change.
  bool PollUntil(DWORD wanted) {
    return WaitUntil(
        [&] {
          const DWORD state = CurrentState(service_.get());
          if (seen_.empty() || seen_.back().state != state)
            seen_.push_back({state, GetTickCount()});
          return state == wanted;
        },
        kWaitMs, 5);
  }
  SERVICE_STATUS LastStatus() const {
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(service_.get(), &status)) << GetLastError();
    return status;
  }
  // The tick count when the state was first seen; 0 when never.
  DWORD FirstSeen(DWORD state) const {
    for (const StateSeen& s : seen_)
      if (s.state == state) return s.tick;
    return 0;
  }

  ComApartment apartment_;
  ScHandle service_{nullptr, &CloseServiceHandle};
  const std::string iniPath_ = ExeDir() + "\\KeldranGridAgent.INI";
  std::vector<StateSeen> seen_;
};

TEST_F(HostServiceTest, ReportsRunningAfterTheClientConnectsAndStopReachesTheClient) {
  HostRun run;
  HostSetup setup;
  // The client takes its time before it connects: the service stays start-pending meanwhile.
  setup.clientOptions = "/delay=1500";
  setup.script = "heartbeat=250\n";
  RegisterAndStart(run, setup);
  // StartService may come back before the service reports anything: poll.
  ASSERT_TRUE(PollUntil(SERVICE_RUNNING)) << run.Log() << run.Out();
  ASSERT_TRUE(run.WaitForOut("connected thread=", kWaitMs)) << run.Out();
  EXPECT_TRUE(IsInRunningObjectTable(run.serviceId()));

  const std::string out = run.Out();
  const unsigned long started = StampOf(out, " start instance=");
  const unsigned long connected = StampOf(out, "connected thread=");
  const DWORD running = FirstSeen(SERVICE_RUNNING);
  EXPECT_NE(FirstSeen(SERVICE_START_PENDING), 0u);
  // Running is reported inside Connect: after the client's delay, and about when the client
  // writes down that its Connect has returned (give or take a late poll).
  EXPECT_GE(running, started + 1400) << out;
  EXPECT_LE(running, connected + 500) << out;
  EXPECT_EQ(run.OutCount(" servicename=KeldranGridAgent321"), 1u) << out;

  const std::vector<DWORD> pids = ClientPids(out);
  ASSERT_EQ(pids.size(), 1u);
  ProcessWatch client(pids[0]);
  ASSERT_TRUE(client.valid());
  const auto host = WatchHost();
  ASSERT_TRUE(host->valid());

  const SERVICE_STATUS last = StopService(run);
  EXPECT_EQ(last.dwWin32ExitCode, 0u);
  ASSERT_TRUE(client.WaitForExit(kWaitMs));
  EXPECT_EQ(client.ExitCode(), 0u) << run.Out();
  EXPECT_TRUE(run.OutHas("event 1 stop")) << run.Out();
  // The host reports itself stopped before its run loop has shut down: the process must still
  // finish that shutdown (which takes it out of the running-object table) and end cleanly, not
  // tear down under it.
  ASSERT_TRUE(host->WaitForExit(kWaitMs));
  EXPECT_EQ(host->ExitCode(), 0u);
  EXPECT_FALSE(IsInRunningObjectTable(run.serviceId()));

  const std::string log = run.Log();
  // The service's own texts, not the "(as application)" ones.
  EXPECT_NE(log.find("Service started"), std::string::npos) << log;
  EXPECT_NE(log.find("Sending stop request to client"), std::string::npos) << log;
  EXPECT_EQ(run.LogCount("Service stopped"), 1u) << log;
  EXPECT_EQ(log.find("as application"), std::string::npos) << log;
}

// A client that does not hear the stop and ends on its own while the stop waits for it: the
// host takes its end for the stop's doing, every time, and starts nothing again.
TEST_F(HostServiceTest, AClientEndingOnItsOwnDuringTheStopIsNoDeath) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    HostRun run;
    HostSetup setup;
    setup.script = "heartbeat=250\nignorestop\nwait=2500\nend\n";
    RegisterAndStart(run, setup);
    ASSERT_TRUE(run.WaitForOut("connected thread=", kWaitMs)) << run.Out();
    const auto host = WatchHost();
    Sleep(1000);
    StopService(run);
    // The host's last records are written as its process ends.
    ASSERT_TRUE(host->WaitForExit(kWaitMs));
    EXPECT_TRUE(run.OutHas("exit 0")) << run.Out();
    const std::string log = run.Log();
    EXPECT_EQ(run.LogCount("Client stopped unexpectedly"), 0u) << log;
    EXPECT_EQ(run.LogCount("Client started"), 1u) << log;
    EXPECT_EQ(run.LogCount("Service stopped"), 1u) << log;
  }
}

// Every other way a service run ends writes "Service stopped" once, before the service reports
// itself stopped, and leaves the Service Control Manager with the run's outcome: 0 after a stop,
// ERROR_SERVICE_SPECIFIC_ERROR with the failure's own code when the client could not be started
// again (so that recovery actions fire).
TEST_F(HostServiceTest, EveryWayARunEndsWritesServiceStoppedOnceAndTheRightExitCode) {
  struct Ending {
    const char* how;
    const char* script;
  };
  const Ending endings[] = {
      {"the client's Stop", "heartbeat=250\nwait=1000\ncall=Stop()\n"},
      {"the client's RequestStop", "heartbeat=250\nwait=1000\ncall=RequestStop()\n"},
      // The message that the tray's confirmed Stop also ends in.
      {"the window's stop message", "heartbeat=250\n"},
      // Its program is gone by the time it is to be started again.
      {"a failed restart", "heartbeat=250\nwait=1500\nexit=3\n"},
  };
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.how);
    const bool failing = std::string(ending.how) == "a failed restart";
    HostRun run;
    HostSetup setup;
    setup.script = ending.script;
    const std::string program = run.dir().File("client-copy.exe");
    if (failing) {
      ASSERT_TRUE(CopyFileA(ProgramPath("KeldranTestClient.exe").c_str(), program.c_str(), TRUE));
      setup.clientCommand = "\"" + program + "\" /script=first.txt /out=client.out";
    }
    RegisterAndStart(run, setup);
    ASSERT_TRUE(run.WaitForOut("connected thread=", kWaitMs)) << run.Out() << run.Log();
    const auto host = WatchHost();
    if (failing) {
      ASSERT_TRUE(MoveFileA(program.c_str(), run.dir().File("client-gone.exe").c_str()));
    }
    if (std::string(ending.how) == "the window's stop message") {
      // The host's hidden window.
      std::vector<HWND> window;
      ASSERT_TRUE(WaitUntil(
          [&] { return !(window = TopLevelWindows("KeldranWindow.", host->Id(), true)).empty(); },
          kWaitMs));
      ASSERT_TRUE(
          PostMessageA(window[0], RegisterWindowMessageA("KeldranService Stop Message"), 0, 0));
    }
    const SERVICE_STATUS last = WaitForStopped(run);
    ASSERT_TRUE(host->WaitForExit(kWaitMs));
    const std::string log = run.Log();
    EXPECT_EQ(run.LogCount("Service stopped"), 1u) << log;
    EXPECT_EQ(log.find("as application"), std::string::npos) << log;
    if (failing) {
      EXPECT_EQ(last.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
      EXPECT_EQ(last.dwServiceSpecificExitCode, 0x80070002u) << log;
      EXPECT_EQ(host->ExitCode(), 0x80004005u);
      EXPECT_LT(log.find("Client NOT started"), log.find("Service stopped")) << log;
    } else {
      EXPECT_EQ(last.dwWin32ExitCode, 0u) << log;
      EXPECT_EQ(host->ExitCode(), 0u) << log;
    }
    service_.reset();
  }
}

}  // namespace
}  // namespace keldran::test
