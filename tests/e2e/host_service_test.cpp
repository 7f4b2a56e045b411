// The real host as a Windows service under Wine's Service Control Manager, installed by the
// host's own /RegService: the service "KeldranGridAgent321" runs the component "Grid" with the INI
// file beside the executable, and every other component has a service of its own. A service
// reports itself running only once its client has connected, and the stop control reaches the
// client before the host ends.
#include <set>
#include <vector>

#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kWaitMs = 20000;
constexpr char kServiceName[] = "KeldranGridAgent321";
constexpr char kAppId[] = "{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}";
constexpr char kLibId[] = "{5A1F93C4-8E27-4B60-A3D5-19C6E0B7F482}";

DWORD CurrentState(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

// Stops (if it runs) and deletes the service; nothing when there is none.
void RemoveService(const std::string& name = kServiceName) {
  const ScHandle service = OpenServiceNamed(name.c_str());
  if (!service) return;
  SERVICE_STATUS status{};
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    (void)WaitUntil([&] { return CurrentState(service.get()) == SERVICE_STOPPED; }, kWaitMs);
  }
  DeleteService(service.get());
}

bool WaitForState(SC_HANDLE service, DWORD state) {
  return WaitUntil([&] { return CurrentState(service) == state; }, kWaitMs);
}

// Every key below the path in one registry view, by path.
void CollectKeys(HKEY root, const std::string& path, REGSAM view, std::set<std::string>* keys) {
  tools::RegKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != 0) return;
    const std::string child = path + "\\" + name;
    keys->insert(std::to_string(view) + ":" + child);
    CollectKeys(root, child, view, keys);
  }
}

// What registration touches: the classes in both registry views, the services and event sources.
std::set<std::string> RegistrationKeys() {
  std::set<std::string> keys;
  for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    CollectKeys(HKEY_LOCAL_MACHINE, "Software\\Classes", view, &keys);
  CollectKeys(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services", 0, &keys);
  return keys;
}

// The data of every value of the key and its subkeys, one after the other.
std::string AllValueData(HKEY root, const std::string& path) {
  tools::RegKey key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
  std::string all;
  char name[256];
  BYTE data[4096];
  DWORD nameSize = sizeof name, dataSize = sizeof data;
  for (DWORD i = 0;
       RegEnumValueA(key.get(), i, name, &nameSize, nullptr, nullptr, data, &dataSize) == 0;
       ++i, nameSize = sizeof name, dataSize = sizeof data) {
    all.append(reinterpret_cast<char*>(data), dataSize);
  }
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) != 0) break;
    all += AllValueData(root, path + "\\" + name);
  }
  return all;
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
    for (const std::string& name : moreServices_) RemoveService(name);
    DeleteFileA(iniPath_.c_str());
  }
  // A service of another component that the test may leave behind when it fails.
  void TearDownAlso(const std::string& name) { moreServices_.push_back(name); }

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
  // Stops the service and lets go of it, so that the unregistration can delete it.
  void StopService(const HostRun& run) {
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
    ASSERT_TRUE(PollUntil(SERVICE_STOPPED)) << run.Log();
    service_.reset();
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
  std::vector<std::string> moreServices_;
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

  StopService(run);
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

// Two components registered as services of their own run side by side, each with its client;
// unregistering one leaves the other registered and running, and the last unregistration leaves
// the registry as it found it. The second runs under its virtual account, which needs no password:
// the one written after it reaches neither the service, nor the registry, nor the log.
TEST_F(HostServiceTest, ComponentsRunAsServicesOfTheirOwnSideBySide) {
  const std::set<std::string> before = RegistrationKeys();
  const std::string suffix = std::to_string(GetCurrentProcessId());
  HostSetup setup;
  setup.asService = true;
  setup.timeoutSeconds = 30;
  setup.script = "heartbeat=250\nlog=200\n";
  setup.component = "E2EAlpha" + suffix;
  HostRun alpha, beta;
  ASSERT_TRUE(alpha.Prepare(setup));
  const std::string password = "Pa55{unused}";
  setup.component = "E2EBeta" + suffix;
  const std::string betaName = "KeldranGridAgent321$" + setup.component;
  setup.iniLines = {"Logon=NT SERVICE\\" + betaName + ";" + password, "Recovery=0", "Trace=1"};
  ASSERT_TRUE(beta.Prepare(setup));
  const std::string alphaName = "KeldranGridAgent321$" + alpha.component();
  TearDownAlso(alphaName);
  TearDownAlso(betaName);

  struct Side {
    HostRun& run;
    std::string name;
    ScHandle service{nullptr, &CloseServiceHandle};
  } sides[] = {{alpha, alphaName}, {beta, betaName}};
  for (Side& side : sides) {
    side.service = OpenServiceNamed(side.name.c_str());
    ASSERT_TRUE(side.service) << side.name;
    ASSERT_TRUE(StartServiceA(side.service.get(), 0, nullptr)) << GetLastError();
  }
  for (Side& side : sides) {
    SCOPED_TRACE(side.name);
    ASSERT_TRUE(WaitForState(side.service.get(), SERVICE_RUNNING)) << side.run.Log();
    ASSERT_TRUE(side.run.WaitForOut("connected thread=", kWaitMs)) << side.run.Out();
    EXPECT_EQ(side.run.OutCount(" servicename=" + side.name), 1u) << side.run.Out();
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + side.name;
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "ImagePath"),
              AgentExePath() + " " + side.run.ComponentArgument() + " /Service");
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, key, "DisplayName"),
              "Keldran Grid Agent 3.21 (" + side.run.component() + ")");
    // Wine cannot read failure actions back: /Status shows them from the configuration.
    RunOptions options;
    options.outputFile = side.run.dir().File("status.txt");
    EXPECT_EQ(side.run.RunAgain("/Status", options).exitCode, 0u);
    const std::string status = side.run.dir().Read("status.txt");
    EXPECT_NE(status.find("Registered:  as a service (" + side.name + ")"), std::string::npos);
    EXPECT_NE(status.find(&side == sides ? "Recovery:    restart after 5 s, 30 s, 60 s (count "
                                           "reset after 1 day)\r\n"
                                         : "Recovery:    off\r\n"),
              std::string::npos)
        << status;
  }
  std::vector<BYTE> buffer(8192);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(sides[1].service.get(), config, 8192, &needed));
  EXPECT_EQ(std::string(config->lpServiceStartName), "NT SERVICE\\" + betaName);
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  const std::string stored =
      AllValueData(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + betaName) +
      AllValueData(HKEY_CLASSES_ROOT, std::string("AppID\\") + kAppId + "\\Services");
  EXPECT_EQ(stored.find(password), std::string::npos);
  EXPECT_EQ(beta.Log().find(password), std::string::npos);

  // Alpha goes; beta keeps its registration, the shared pieces and its running client.
  SERVICE_STATUS stopped{};
  ASSERT_TRUE(ControlService(sides[0].service.get(), SERVICE_CONTROL_STOP, &stopped))
      << GetLastError();
  ASSERT_TRUE(WaitForState(sides[0].service.get(), SERVICE_STOPPED)) << alpha.Log();
  sides[0].service.reset();
  EXPECT_EQ(alpha.RunAgain("/UnReg /Quiet").exitCode, 0u) << alpha.Log();
  EXPECT_FALSE(OpenServiceNamed(alphaName.c_str()));
  EXPECT_EQ(CurrentState(sides[1].service.get()), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT,
                           std::string("AppID\\") + kAppId + "\\Services\\" + beta.component()));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibId));
  // Its calls still reach the host: the type library that marshals them stayed.
  const std::string answered = " hr=0x00000000 ms=";
  EXPECT_TRUE(beta.WaitForOutCount(answered, beta.OutCount(answered) + 4, kWaitMs)) << beta.Out();
  EXPECT_TRUE(IsInRunningObjectTable(beta.serviceId()));

  ASSERT_TRUE(ControlService(sides[1].service.get(), SERVICE_CONTROL_STOP, &stopped));
  ASSERT_TRUE(WaitForState(sides[1].service.get(), SERVICE_STOPPED)) << beta.Log();
  sides[1].service.reset();
  EXPECT_EQ(beta.RunAgain("/UnReg /Quiet").exitCode, 0u) << beta.Log();
  std::vector<std::string> changed;
  const std::set<std::string> after = RegistrationKeys();
  std::set_symmetric_difference(before.begin(), before.end(), after.begin(), after.end(),
                                std::back_inserter(changed));
  EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
}

}  // namespace
}  // namespace keldran::test
