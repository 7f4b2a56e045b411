// The host's own registration under Wine, as an administrator runs it: every key and value of the
// layout read back from the real registry, the event sources, the shortcuts through IShellLink,
// two components that share the executable, and /UnReg, after which the registry holds no key
// that it did not hold before, also when the registered executable is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>
#include <utility>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"

namespace keldran::test {
namespace {

constexpr char kAppId[] = "{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}";
constexpr char kClsid[] = "{C83D2E19-6B7A-4F05-8E41-D2A9B3C6F017}";
constexpr char kLibId[] = "{5A1F93C4-8E27-4B60-A3D5-19C6E0B7F482}";
constexpr char kSources[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// Configuration text that a registry script would have mangled: quotes, braces, percent signs
// (with names a script would expand) and blanks.
constexpr char kCommandLine[] =
    "C:\\it's {x}\\client.exe /a='%MODULE%' %ServiceComp% {y} 100% \"q\"";
constexpr char kWorkingDir[] = "C:\\w d\\it's {z} 5% '";

// Every key below the open key, by path.
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

// A value as stored: its type and its bytes (a string without its terminating NUL, a number in
// decimal); REG_NONE when there is none.
using Stored = std::pair<DWORD, std::string>;

Stored Read(HKEY root, const std::string& path, const std::string& name) {
  tools::RegKey key;
  Stored value{REG_NONE, {}};
  DWORD size = 0;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
      RegQueryValueExA(key.get(), name.c_str(), nullptr, &value.first, nullptr, &size) != 0)
    return {REG_NONE, {}};
  value.second.assign(size, '\0');
  RegQueryValueExA(key.get(), name.c_str(), nullptr, &value.first,
                   reinterpret_cast<BYTE*>(value.second.data()), &size);
  if (value.first == REG_DWORD) {
    DWORD number = 0;
    std::memcpy(&number, value.second.data(), sizeof number);
    value.second = std::to_string(number);
  } else if (!value.second.empty() && value.second.back() == '\0') {
    value.second.pop_back();
  }
  return value;
}

// The data of every value of the key, one after the other.
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

Stored Sz(std::string text) { return {REG_SZ, std::move(text)}; }
Stored Dword(DWORD number) { return {REG_DWORD, std::to_string(number)}; }

// The service's image path: the executable and the component's at-sign word, each quoted when
// it holds a blank.
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

  // A component of its own whose INI file lies in the scratch directory.
  std::string Component(const std::string& name, const std::string& iniLines = {}) {
    const std::string ini = dir_.File(std::to_string(inis_++) + ".ini");
    EXPECT_TRUE(WriteWholeFile(ini, "[Service]\r\nLogDir=" + dir_.path() +
                                        "\r\nCommandLine=" + kCommandLine +
                                        "\r\nWorkingDir=" + kWorkingDir + "\r\n" + iniLines));
    return "\"" + name + "@" + ini + "\"";
  }
  // Runs the host; its full exit code.
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
// interfaces from the registered file and fails without it, so the unregistration takes the
// TypeLib and Interface keys away itself, in both registry views.
TEST_F(RegistrationE2eTest, RegAppWritesTheLayoutAndUnRegLeavesNoNewKey) {
  const std::set<std::string> before = AllKeys();
  const std::string name = "E2E Reg {1}'s 100%";
  const std::string component =
      Component(name, "AutoStart=1\r\nShow=2\r\nDebug=3\r\nTimeout=7\r\nTrace=0\r\n");
  const std::string exe = dir_.File("KeldranGridAgent.exe");
  ASSERT_TRUE(CopyFileA(AgentExePath().c_str(), exe.c_str(), TRUE));
  ASSERT_EQ(Agent(component + " /RegApp", exe), 0u) << Log();

  const std::string key = ComponentKey(name);
  const std::string serviceId = Read(HKEY_CLASSES_ROOT, key, "ServiceID").second;
  EXPECT_EQ(serviceId.size(), 38u);
  EXPECT_EQ(serviceId.front(), '{');
  const std::string progId = "KeldranGridAgent.3.21";
  const std::string clsidKey = std::string("CLSID\\") + kClsid;
  const std::string own = std::string(kSources) + "KeldranService." + name;
  const std::string display = "Keldran Grid Agent 3.21 (" + name + ")";
  struct Row {
    HKEY root;
    std::string key;
    std::string value;
    Stored expected;
  } rows[] = {
      {HKEY_CLASSES_ROOT, std::string("AppID\\") + kAppId, "", Sz("KeldranGridAgent")},
      {HKEY_CLASSES_ROOT, key, "IniFile", Sz(dir_.File("0.ini"))},
      {HKEY_CLASSES_ROOT, key, "ServicePath",
       Sz(ServicePathOf(exe, name + "@" + dir_.File("0.ini")))},
      {HKEY_CLASSES_ROOT, key, "ServiceName", Sz("KeldranGridAgent321$" + name)},
      {HKEY_CLASSES_ROOT, key, "DisplayName", Sz(display)},
      {HKEY_CLASSES_ROOT, key, "Description", Sz("Keldran Grid Agent Service 3.21")},
      {HKEY_CLASSES_ROOT, key, "CommandLine", Sz(kCommandLine)},
      {HKEY_CLASSES_ROOT, key, "WorkingDir", Sz(kWorkingDir)},
      {HKEY_CLASSES_ROOT, key, "AutoStart", Dword(1)},
      {HKEY_CLASSES_ROOT, key, "Show", Dword(2)},
      {HKEY_CLASSES_ROOT, key, "Debug", Dword(3)},
      {HKEY_CLASSES_ROOT, key, "Timeout", Dword(7)},
      {HKEY_CLASSES_ROOT, key, "LocalService", Dword(0)},
      {HKEY_CLASSES_ROOT, "AppID\\KeldranGridAgent.EXE", "AppID", Sz(kAppId)},
      {HKEY_CLASSES_ROOT, progId, "", Sz("Service Class")},
      {HKEY_CLASSES_ROOT, progId + "\\CLSID", "", Sz(kClsid)},
      {HKEY_CLASSES_ROOT, progId + "\\CurVer", "", Sz(progId + ".3.21")},
      {HKEY_CLASSES_ROOT, clsidKey, "", Sz("Service Class")},
      {HKEY_CLASSES_ROOT, clsidKey, "AppID", Sz(kAppId)},
      {HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", "", Sz(progId + ".3.21")},
      {HKEY_CLASSES_ROOT, clsidKey + "\\VersionIndependentProgID", "", Sz(progId)},
      {HKEY_CLASSES_ROOT, clsidKey + "\\LocalServer32", "", Sz("\"" + exe + "\"")},
      {HKEY_CLASSES_ROOT, clsidKey + "\\TypeLib", "", Sz(kLibId)},
      // The type library's version is written in hexadecimal: 3.21 is "3.15".
      {HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kLibId + "\\3.15\\0\\win64", "", Sz(exe)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Read(row.root, row.key, row.value), row.expected) << row.key << " " << row.value;
  }
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, clsidKey + "\\Programmable"));
  for (const std::string& source : {std::string(kSources) + "KeldranGridAgent321", own}) {
    SCOPED_TRACE(source);
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, source, "EventMessageFile"), Sz(exe));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, source, "TypesSupported"), Dword(7));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, source, "CategoryMessageFile"),
              (Stored{REG_EXPAND_SZ, exe}));
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, source, "CategoryCount"), Dword(15));
  }

  const std::string folder = Folder("AllUsersPrograms") + "\\Keldran\\" + name + " Server";
  struct Link {
    std::string path;
    std::string arguments;
    std::string description;
  } links[] = {
      {folder + "\\Start " + name + " Server.lnk", name + " /Start", "Start " + display},
      {folder + "\\Stop " + name + " Server.lnk", name + " /Stop", "Stop " + display},
      {Folder("AllUsersStartup") + "\\" + display + ".lnk", name + " /Start", display},
  };
  for (const Link& link : links) {
    SCOPED_TRACE(link.path);
    ShortcutDefinition read;
    ASSERT_EQ(shell_.shell.ReadShortcut(link.path, &read), 0);
    EXPECT_EQ(read.target, exe);
    EXPECT_EQ(read.arguments, link.arguments);
    EXPECT_EQ(read.description, link.description);
    EXPECT_EQ(read.workingDirectory, dir_.path() + "\\");
    EXPECT_EQ(read.iconLocation, "");
  }

  // Again: one key, with a new ServiceID.
  ASSERT_EQ(Agent(component + " /RegApp", exe), 0u) << Log();
  EXPECT_NE(Read(HKEY_CLASSES_ROOT, key, "ServiceID").second, serviceId);

  ASSERT_TRUE(DeleteFileA(exe.c_str()));
  ASSERT_EQ(Agent(component + " /UnReg"), 0u) << Log();
  EXPECT_NE(Log().find("Unable to unregister typelib"), std::string::npos) << Log();
  std::vector<std::string> left;
  for (const std::string& k : AllKeys()) {
    if (!before.count(k)) left.push_back(k);
  }
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
  for (const Link& link : links) EXPECT_FALSE(FileExists(link.path)) << link.path;
  EXPECT_FALSE(shell_.shell.FolderExists(folder));
}

// With an account the service is not interactive; installing it deletes an earlier version of
// the program ("KeldranGridAgent" and more, byte for byte) but neither a service whose name
// differs in case nor another component's service of this version. The password reaches the
// service manager and nothing else: not the log (traced here, so every record is an event too),
// not the registry. Wine refuses delayed automatic start and the failure-actions flag: the one
// warning names both, and the registration succeeds.
TEST_F(RegistrationE2eTest, RegServiceWithAnAccountReplacesEarlierVersionsOnly) {
  {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), &CloseServiceHandle);
    for (const char* name :
         {"KeldranGridAgent300", "keldrangridagent999", "KeldranGridAgent321$E2E Other"}) {
      ScHandle old(CreateServiceA(manager.get(), name, name, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                  SERVICE_ERROR_NORMAL, "C:\\windows\\system32\\cmd.exe", nullptr,
                                  nullptr, nullptr, nullptr, nullptr),
                   &CloseServiceHandle);
      ASSERT_TRUE(old) << name << " " << GetLastError();
    }
  }
  const std::string password = "Pa55-{secret}";
  const std::string component = Component(
      "E2E Svc", "Logon=tester;" + password + "\r\nAutoStart=1\r\nDelayedStart=1\r\nTrace=1\r\n");
  const DWORD registered = Agent(component + " /RegService");
  EXPECT_FALSE(OpenServiceNamed("KeldranGridAgent300"));
  for (const char* name : {"keldrangridagent999", "KeldranGridAgent321$E2E Other"}) {
    const ScHandle other = OpenServiceNamed(name);
    EXPECT_TRUE(other) << name;
    if (other) DeleteService(other.get());
  }
  ASSERT_EQ(registered, 0u) << Log();

  // Wine's QueryServiceConfigA leaves the dependencies out: read the service's own key, where
  // Wine keeps only the first dependency.
  const std::string serviceName = "KeldranGridAgent321$E2E Svc";
  const std::string service = "SYSTEM\\CurrentControlSet\\Services\\" + serviceName;
  const std::pair<const char*, Stored> rows[] = {
      {"Type", Dword(SERVICE_WIN32_OWN_PROCESS)},
      {"Start", Dword(SERVICE_AUTO_START)},
      {"ErrorControl", Dword(SERVICE_ERROR_NORMAL)},
      {"ImagePath", Sz(ServicePathOf(AgentExePath(), "E2E Svc@" + dir_.File("0.ini")))},
      {"DisplayName", Sz("Keldran Grid Agent 3.21 (E2E Svc)")},
      {"Description", Sz("Keldran Grid Agent Service 3.21")},
      {"ObjectName", Sz(".\\tester")},
      {"DependOnService", {REG_MULTI_SZ, std::string("RPCSS\0", 6)}},
  };
  for (const auto& [value, expected] : rows) {
    EXPECT_EQ(Read(HKEY_LOCAL_MACHINE, service, value), expected) << value;
  }
  EXPECT_EQ(Read(HKEY_CLASSES_ROOT, ComponentKey("E2E Svc"), "LocalService"), Dword(1));
  EXPECT_NE(Log().find("Service installed"), std::string::npos);
  EXPECT_NE(Log().find("Service registered without recovery after a stop with an error code: 87 "
                       "(0x00000057) Invalid parameter.; without delayed automatic start: 87 "
                       "(0x00000057) Invalid parameter."),
            std::string::npos)
      << Log();
  {
    const ScHandle created = OpenServiceNamed(serviceName.c_str());
    SERVICE_PRESHUTDOWN_INFO preshutdown{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceConfig2A(created.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO,
                                     reinterpret_cast<BYTE*>(&preshutdown), sizeof preshutdown,
                                     &needed));
    EXPECT_EQ(preshutdown.dwPreshutdownTimeout, 40000u);
  }
  EXPECT_EQ(Log().find(password), std::string::npos);
  const std::string stored =
      AllValueData(HKEY_CLASSES_ROOT, ComponentKey("E2E Svc")) +
      AllValueData(HKEY_LOCAL_MACHINE, service) +
      AllValueData(HKEY_LOCAL_MACHINE, std::string(kSources) + "KeldranService.E2E Svc");
  EXPECT_EQ(stored.find(password), std::string::npos);

  ASSERT_EQ(Agent(component + " /UnReg"), 0u) << Log();
  EXPECT_FALSE(OpenServiceNamed(serviceName.c_str()));
}

// Two components registered as services of their own run side by side, each with its client;
// unregistering one leaves the other registered and running, and the last unregistration leaves
// the registry as it found it. The second runs under its virtual account, which needs no password:
// the one written after it reaches neither the service, nor the registry, nor the log.
TEST_F(RegistrationE2eTest, ComponentsRunAsServicesOfTheirOwnSideBySide) {
  const std::set<std::string> before = AllKeys();
  const std::string pid = std::to_string(GetCurrentProcessId()), password = "Pa55{unused}";
  HostRun runs[2];
  std::string names[2];
  for (int i = 0; i < 2; ++i) {
    HostSetup setup;
    setup.component = (i == 0 ? "E2EAlpha" : "E2EBeta") + pid;
    names[i] = "KeldranGridAgent321$" + setup.component;
    setup.asService = true;
    setup.timeoutSeconds = 30;
    setup.script = "heartbeat=250\nlog=200\n";
    if (i == 1)
      setup.iniLines = {"Logon=NT SERVICE\\" + names[1] + ";" + password, "Recovery=0", "Trace=1"};
    ASSERT_TRUE(runs[i].Prepare(setup));
  }
  ScHandle services[2] = {OpenServiceNamed(names[0].c_str()), OpenServiceNamed(names[1].c_str())};
  auto inState = [&](int i, DWORD state) {
    SERVICE_STATUS status{};
    return WaitUntil(
        [&] {
          return QueryServiceStatus(services[i].get(), &status) && status.dwCurrentState == state;
        },
        20000);
  };
  for (const ScHandle& service : services) ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
  const char* recovery[] = {"restart after 5 s, 30 s, 60 s (count reset after 1 day)", "off"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(names[i]);
    ASSERT_TRUE(inState(i, SERVICE_RUNNING)) << runs[i].Log();
    ASSERT_TRUE(runs[i].WaitForOut(" servicename=" + names[i], 20000)) << runs[i].Out();
    // Wine cannot read failure actions back: /Status shows them from the configuration.
    RunOptions options;
    options.outputFile = runs[i].dir().File("status.txt");
    EXPECT_EQ(runs[i].RunAgain("/Status", options).exitCode, 0u);
    EXPECT_NE(runs[i].dir().Read("status.txt").find(std::string("Recovery:    ") + recovery[i]),
              std::string::npos);
  }
  std::vector<BYTE> buffer(8192);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigA(services[1].get(), config, 8192, &needed));
  EXPECT_EQ(std::string(config->lpServiceStartName), "NT SERVICE\\" + names[1]);
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
  std::vector<std::string> changed;
  const std::set<std::string> after = AllKeys();
  std::set_symmetric_difference(before.begin(), before.end(), after.begin(), after.end(),
                                std::back_inserter(changed));
  // Wine keeps state of its own there (a restarted wineserver's system parameters).
  std::erase_if(changed,
                [](const std::string& k) { return k.starts_with("HKCU\\Software\\Wine"); });
  EXPECT_TRUE(changed.empty()) << ::testing::PrintToString(changed);
}

}  // namespace
}  // namespace keldran::test
