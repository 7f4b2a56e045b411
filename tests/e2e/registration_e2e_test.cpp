// The host's own registration under Wine: what only the real registry, IShellLink and service
// manager show, two components side by side, and /UnReg leaving no key behind.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"

namespace keldran::test {
namespace {

constexpr char kAppId[] = "{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}";
constexpr char kLibId[] = "{5A1F93C4-8E27-4B60-A3D5-19C6E0B7F482}";
// Configuration text that a registry script would have mangled: quotes, braces, percent signs
// (with names a script would expand) and blanks.
constexpr char kCommandLine[] =
    "C:\\it's {x}\\client.exe /a='%MODULE%' %ServiceComp% {y} 100% \"q\"";
constexpr char kWorkingDir[] = "C:\\w d\\it's {z} 5% '";

void CollectKeys(HKEY key, const std::string& path, std::set<std::string>* keys) {
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return;
    const std::string child = path + "\\" + name;
    keys->insert(child);
    tools::RegKey sub;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS)
      CollectKeys(sub.get(), child, keys);
  }
}

std::set<std::string> AllKeys() {
  std::set<std::string> keys;
  CollectKeys(HKEY_LOCAL_MACHINE, "HKLM", &keys);
  CollectKeys(HKEY_CURRENT_USER, "HKCU", &keys);
  return keys;
}
// The keys added since (or also those taken away); Wine keeps state of its own below
// HKCU\Software\Wine.
std::vector<std::string> NewKeys(const std::set<std::string>& before, bool takenToo = false) {
  std::vector<std::string> changed;
  const std::set<std::string> after = AllKeys();
  for (const std::string& k : after)
    if (!before.count(k)) changed.push_back(k);
  for (const std::string& k : before)
    if (takenToo && !after.count(k)) changed.push_back(k);
  std::erase_if(changed,
                [](const std::string& k) { return k.starts_with("HKCU\\Software\\Wine"); });
  return changed;
}

// The data of every value of the key.
std::string AllValueData(HKEY root, const std::string& path) {
  tools::RegKey key;
  std::string all;
  char name[256];
  BYTE data[4096];
  DWORD nameSize = sizeof name, dataSize = sizeof data;
  for (DWORD i = 0;
       RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == 0 &&
       RegEnumValueA(key.get(), i, name, &nameSize, nullptr, nullptr, data, &dataSize) == 0;
       ++i, nameSize = sizeof name, dataSize = sizeof data) {
    all.append(reinterpret_cast<char*>(data), dataSize);
  }
  return all;
}

// The image path, each word quoted when it holds a blank (it once was not).
std::string ServicePathOf(const std::string& exe, const std::string& component) {
  auto quoted = [](const std::string& word) {
    return word.find(' ') == std::string::npos ? word : "\"" + word + "\"";
  };
  return quoted(exe) + " " + quoted(component) + " /Service";
}

class RegistrationE2eTest : public ::testing::Test {
 protected:
  RegistrationE2eTest() { EXPECT_TRUE(Succeeded(shell_.com.Initialize())); }
  ~RegistrationE2eTest() override { CoUninitialize(); }

  std::string Component(const std::string& name, const std::string& iniLines = {}) {
    const std::string ini = dir_.File(std::to_string(inis_++) + ".ini");
    EXPECT_TRUE(WriteWholeFile(ini, "[Service]\r\nLogDir=" + dir_.path() +
                                        "\r\nCommandLine=" + kCommandLine +
                                        "\r\nWorkingDir=" + kWorkingDir + "\r\n" + iniLines));
    return "\"" + name + "@" + ini + "\"";
  }
  DWORD Agent(const std::string& arguments, const std::string& exe = AgentExePath()) {
    RunOptions options;
    options.timeoutMs = 60000;
    return RunProgram("\"" + exe + "\" " + arguments + " /Quiet", options).exitCode;
  }
  std::string Log() const { return ReadTodaysLog(dir_.path()); }
  static std::string ComponentKey(const std::string& name) {
    return std::string("AppID\\") + kAppId + "\\Services\\" + name;
  }
  std::string Folder(const char* name) {
    std::string path;
    EXPECT_EQ(shell_.shell.SpecialFolder(name, &path), 0);
    return path;
  }

  ScratchDir dir_;
  int inis_ = 0;
  win32::Win32Platform backend_;
  Platform& shell_ = backend_.platform();
};

// Registered from a copy that is gone by the unregistration: Wine's UnRegisterTypeLib learns the
// interfaces from the registered file and fails without it, so /UnReg takes the TypeLib and
// Interface keys away itself. The layout's other values are the native tests'.
TEST_F(RegistrationE2eTest, RegAppWritesTheLayoutAndUnRegLeavesNoNewKey) {
  const std::set<std::string> before = AllKeys();
  const std::string name = "E2E Reg {1}'s 100%";
  const std::string component = Component(name, "AutoStart=1\r\n");
  const std::string exe = dir_.File("KeldranGridAgent.exe");
  ASSERT_TRUE(CopyFileA(AgentExePath().c_str(), exe.c_str(), TRUE));
  ASSERT_EQ(Agent(component + " /RegApp", exe), 0u) << Log();

  const std::string key = ComponentKey(name);
  const std::pair<std::string, std::string> rows[] = {
      {"ServicePath", ServicePathOf(exe, name + "@" + dir_.File("0.ini"))},
      {"CommandLine", kCommandLine},
      {"WorkingDir", kWorkingDir},
  };
  for (const auto& [value, expected] : rows)
    EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, key, value), expected);

  const std::string display = "Keldran Grid Agent 3.21 (" + name + ")";
  const std::string folder = Folder("AllUsersPrograms") + "\\Keldran\\" + name + " Server";
  const std::pair<std::string, std::string> links[] = {
      {folder + "\\Start " + name + " Server.lnk", name + " /Start"},
      {folder + "\\Stop " + name + " Server.lnk", name + " /Stop"},
      {Folder("AllUsersStartup") + "\\" + display + ".lnk", name + " /Start"},
  };
  for (const auto& [path, arguments] : links) {
    ShortcutDefinition read;
    ASSERT_EQ(shell_.shell.ReadShortcut(path, &read), 0) << path;
    EXPECT_EQ(read.target, exe);
    EXPECT_EQ(read.arguments, arguments);
  }

  ASSERT_TRUE(DeleteFileA(exe.c_str()));
  ASSERT_EQ(Agent(component + " /UnReg"), 0u) << Log();
  EXPECT_NE(Log().find("Unable to unregister typelib"), std::string::npos) << Log();
  EXPECT_EQ(NewKeys(before), std::vector<std::string>{});
  for (const auto& link : links) EXPECT_FALSE(FileExists(link.first)) << link.first;
  EXPECT_FALSE(shell_.shell.FolderExists(folder));
}

// Installing deletes an earlier version's service (byte for byte) but neither one whose name
// differs in case nor another component's.
TEST_F(RegistrationE2eTest, RegServiceWithAnAccountReplacesEarlierVersionsOnly) {
  const char* kept[] = {"keldrangridagent999", "KeldranGridAgent321$E2E Other"};
  {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), &CloseServiceHandle);
    for (const char* name : {"KeldranGridAgent300", kept[0], kept[1]}) {
      ScHandle old(CreateServiceA(manager.get(), name, name, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, "C:\\windows\\system32\\cmd.exe", nullptr,
                                  nullptr, nullptr, nullptr, nullptr),
                   &CloseServiceHandle);
      ASSERT_TRUE(old) << name << " " << GetLastError();
    }
  }
  const std::string component = Component("E2E Svc", "Logon=tester;Pa55\r\nAutoStart=1\r\n");
  const DWORD registered = Agent(component + " /RegService");
  EXPECT_FALSE(OpenServiceNamed("KeldranGridAgent300"));
  for (const char* name : kept) {
    const ScHandle other = OpenServiceNamed(name);
    EXPECT_TRUE(other) << name;
    if (other) DeleteService(other.get());
  }
  ASSERT_EQ(registered, 0u) << Log();

  const std::string serviceName = "KeldranGridAgent321$E2E Svc";
  const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + serviceName;
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, service, "ImagePath"),
            ServicePathOf(AgentExePath(), "E2E Svc@" + dir_.File("0.ini")));
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, service, "ObjectName"), ".\\tester");

  ASSERT_EQ(Agent(component + " /UnReg"), 0u) << Log();
  EXPECT_FALSE(OpenServiceNamed(serviceName.c_str()));
}

// Two components' services run side by side; unregistering one leaves the other registered and
// running, the last leaves the registry as it was. The second's virtual account needs no
// password: the one written after it reaches neither the service, the registry nor the log.
TEST_F(RegistrationE2eTest, ComponentsRunAsServicesOfTheirOwnSideBySide) {
  const std::set<std::string> before = AllKeys();
  const std::string pid = std::to_string(GetCurrentProcessId()), password = "Pa55{unused}";
  HostRun runs[2];
  std::string names[2];
  ScHandle services[2] = {{nullptr, &CloseServiceHandle}, {nullptr, &CloseServiceHandle}};
  for (int i = 0; i < 2; ++i) {
    HostSetup setup;
    setup.component = (i == 0 ? "E2EAlpha" : "E2EBeta") + pid;
    names[i] = "KeldranGridAgent321$" + setup.component;
    setup.asService = true;
    setup.timeoutSeconds = 30;
    setup.script = "heartbeat=250\nlog=200\n";
    if (i == 1) setup.iniLines = {"Logon=NT SERVICE\\" + names[1] + ";" + password, "Trace=1"};
    ASSERT_TRUE(runs[i].Prepare(setup));
    services[i] = OpenServiceNamed(names[i].c_str());
    ASSERT_TRUE(StartServiceA(services[i].get(), 0, nullptr));
  }
  auto inState = [&](int i, DWORD state) {
    SERVICE_STATUS status{};
    return WaitUntil(
        [&] {
          return QueryServiceStatus(services[i].get(), &status) && status.dwCurrentState == state;
        },
        20000);
  };
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(inState(i, SERVICE_RUNNING)) << runs[i].Log();
    ASSERT_TRUE(runs[i].WaitForOut(" servicename=" + names[i], 20000)) << runs[i].Out();
  }
  EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + names[1],
                          "ObjectName"),
            "NT SERVICE\\" + names[1]);
  EXPECT_EQ((AllValueData(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + names[1]) +
             AllValueData(HKEY_CLASSES_ROOT, ComponentKey(runs[1].component())) + runs[1].Log())
                .find(password),
            std::string::npos);

  for (int i = 0; i < 2; ++i) {
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(services[i].get(), SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(inState(i, SERVICE_STOPPED)) << runs[i].Log();
    services[i].reset();
    EXPECT_EQ(runs[i].RunAgain("/UnReg /Quiet").exitCode, 0u) << runs[i].Log();
    EXPECT_FALSE(OpenServiceNamed(names[i].c_str()));
    if (i == 1) break;
    // Beta keeps its service, its registration and the type library its calls need.
    EXPECT_TRUE(inState(1, SERVICE_RUNNING));
    EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibId));
    const std::string answered = " hr=0x00000000 ms=";
    EXPECT_TRUE(runs[1].WaitForOutCount(answered, runs[1].OutCount(answered) + 4, 20000));
  }
  EXPECT_EQ(NewKeys(before, true), std::vector<std::string>{});
}

}  // namespace
}  // namespace keldran::test
