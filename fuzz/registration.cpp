// Registration with any configuration text: no key appears outside the component's own and the
// shared entries, every value written equals its input byte for byte, and unregistration takes
// back every key that registration added.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "install/registration.h"
#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

constexpr RegKey kRoots[] = {reg_root::kCurrentUser, reg_root::kLocalMachine, reg_root::kUsers};
constexpr const char* kClasses = "software\\classes\\";
constexpr const char* kSources = "system\\currentcontrolset\\services\\eventlog\\application\\";
const std::string kServices = std::string("AppID\\") + names::kAppId + "\\Services\\";

std::string Fold(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

void Collect(const fake::FakeRegistry& registry, RegKey root, const std::string& path,
             std::set<std::string>* keys) {
  for (const std::string& name : registry.SubkeyNames(root, path)) {
    const std::string child = path.empty() ? name : path + "\\" + name;
    keys->insert(std::to_string(root.value) + ":" + Fold(child));
    Collect(registry, root, child, keys);
  }
}

std::set<std::string> AllKeys(const fake::FakeRegistry& registry) {
  std::set<std::string> keys;
  for (const RegKey root : kRoots) Collect(registry, root, "", &keys);
  return keys;
}

// The keys a registration of the component may add: the class with its ProgIDs, the program's
// AppID entries, the component's key and the two event sources.
std::set<std::string> Allowed(const std::string& component, const std::string& ownSource) {
  const std::string hklm = std::to_string(reg_root::kLocalMachine.value) + ":";
  const std::string progId = names::kProgId, clsid = std::string("clsid\\") + names::kClsid,
                    appId = std::string("appid\\") + names::kAppId;
  std::set<std::string> keys;
  for (const std::string& path :
       {progId, progId + "\\clsid", progId + "\\curver", std::string("clsid"), clsid,
        clsid + "\\progid", clsid + "\\versionindependentprogid", clsid + "\\programmable",
        clsid + "\\localserver32", clsid + "\\typelib", std::string("appid"), appId,
        appId + "\\services", appId + "\\services\\" + component,
        std::string("appid\\keldrangridagent.exe")}) {
    keys.insert(hklm + kClasses + Fold(path));
  }
  keys.insert(hklm + kSources + Fold(names::kServiceName));
  keys.insert(hklm + kSources + Fold(ownSource));
  return keys;
}

// A value exactly as stored.
bool Stored(IRegistry& registry, const std::string& path, const std::string& name, RegType type,
            const std::string& bytes) {
  ScopedRegKey key(registry);
  if (registry.OpenKey(reg_root::kClassesRoot, path, reg_access::kRead, key.put()) != 0)
    return false;
  RegType stored = RegType::kNone;
  std::vector<std::uint8_t> data;
  if (registry.QueryValue(key.get(), name, &stored, &data) != 0) return false;
  return stored == type && std::string(data.begin(), data.end()) == bytes;
}

std::string Dword(std::int32_t value) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

struct NoNotices final : INotices {
  void PostNotice(const char*, std::uint32_t) override {}
};

}  // namespace
}  // namespace keldran

// Input lines: the component, IniFile, CommandLine, WorkingDir, ServicePath, the four numbers
// (AutoStart Show Debug Timeout), and options: "s" as a service, "@" the at-sign form's event
// source, "o" another component registered before.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace keldran;
  const std::string input = fuzz::Text(data, size);
  std::vector<std::string> lines = fuzz::Lines(input);
  lines.resize(7);
  const std::string& options = lines[6];
  const bool asService = options.find('s') != std::string::npos;
  const bool atSign = options.find('@') != std::string::npos;
  const bool other = options.find('o') != std::string::npos;

  fake::FakePlatform fake("");
  const std::string exe = "C:\\Program Files\\Keldran\\KeldranGridAgent.exe";
  fake.processes.SetModuleFileName(exe);
  Configuration c;
  c.ExePath = exe;
  c.AppName = "KeldranGridAgent";
  c.ExeDir = "C:\\Program Files\\Keldran\\";
  c.ServiceName = names::kServiceName;
  c.DisplayName = names::kDisplayName;
  c.Description = names::kDescription;
  c.ServiceComp = lines[0];
  c.IniFile = lines[1];
  c.CommandLine = lines[2];
  c.WorkingDir = lines[3];
  c.ServicePath = lines[4];
  std::int32_t* numbers[] = {&c.AutoStart, &c.Show, &c.Debug, &c.Timeout};
  const char* cursor = lines[5].c_str();
  for (std::int32_t* number : numbers) {
    char* end = nullptr;
    *number = static_cast<std::int32_t>(std::strtoll(cursor, &end, 10));
    cursor = end;
  }

  Log log(fake.platform());
  log.setEventSourceName(atSign ? names::kAtFormServicePrefix + c.ServiceComp : c.ServiceName);
  const std::string ownSource = log.eventSourceName();
  ComponentLog events(log, c.LogPre);
  RunFlags flags;
  flags.Quiet = true;
  NoNotices notices;
  Registration registration(fake.platform(), events, c, flags, notices);

  fake.registry.PutKey(reg_root::kClassesRoot, "CLSID");  // every Windows has them
  fake.registry.PutKey(reg_root::kClassesRoot, "AppID");
  const std::string otherKey = kServices + "Other";
  if (other) fake.registry.PutString(reg_root::kClassesRoot, otherKey, "CommandLine", "other.exe");
  const std::set<std::string> before = AllKeys(fake.registry);

  const HResult registered = registration.RegisterComponent(true, asService);
  const std::set<std::string> after = AllKeys(fake.registry);

  bool usable = !c.ServiceComp.empty();
  for (const char ch : c.ServiceComp) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte == 0x7F || std::strchr("\\/:*?\"<>|", ch)) usable = false;
  }
  if (!usable) {
    FUZZ_CHECK(Failed(registered) && after == before);
    FUZZ_CHECK(fake.eventLog.EventsWithId(901).size() == 1);
    return 0;
  }

  const std::set<std::string> allowed = Allowed(c.ServiceComp, ownSource);
  for (const std::string& key : after) {
    if (!before.contains(key) && !allowed.contains(key)) {
      std::fprintf(stderr, "unexpected key %s\n", key.c_str());
      FUZZ_CHECK(allowed.contains(key));
    }
  }
  FUZZ_CHECK(std::includes(after.begin(), after.end(), before.begin(), before.end()));

  IRegistry& registry = fake.registry;
  const std::string own = kServices + c.ServiceComp;
  const bool numbersFit = std::all_of(std::begin(numbers), std::end(numbers),
                                      [](const std::int32_t* n) { return *n >= 0; });
  if (numbersFit) {
    FUZZ_CHECK(registered == kSOk);
    const std::pair<const char*, const std::string*> texts[] = {
        {"IniFile", &c.IniFile},         {"ServicePath", &c.ServicePath},
        {"ServiceName", &c.ServiceName}, {"DisplayName", &c.DisplayName},
        {"Description", &c.Description}, {"CommandLine", &c.CommandLine},
        {"WorkingDir", &c.WorkingDir}};
    for (const auto& [name, value] : texts)
      FUZZ_CHECK(Stored(registry, own, name, RegType::kSz, *value + '\0'));
    const char* numberNames[] = {"AutoStart", "Show", "Debug", "Timeout"};
    for (std::size_t i = 0; i < 4; ++i)
      FUZZ_CHECK(Stored(registry, own, numberNames[i], RegType::kDword, Dword(*numbers[i])));
    FUZZ_CHECK(Stored(registry, own, "LocalService", RegType::kDword, Dword(asService ? 1 : 0)));
    if (asService)
      FUZZ_CHECK(fake.services.Service(c.ServiceName)->definition.binaryPath == c.ServicePath);
  } else {
    // A number that cannot be stored takes the component's key back with it.
    FUZZ_CHECK(Failed(registered) && !fake.registry.KeyExists(reg_root::kClassesRoot, own));
    FUZZ_CHECK(fake.eventLog.EventsWithId(112).size() == 1);
  }
  const bool otherIsOwn = Fold(c.ServiceComp) == "other";
  if (other && !otherIsOwn)
    FUZZ_CHECK(fake.registry.StringValue(reg_root::kClassesRoot, otherKey, "CommandLine") ==
               "other.exe");

  // Unregistration takes back every key it added; the shared entries stay while another
  // component is registered.
  if (registered == kSOk) {
    (void)registration.UnregisterComponent();
    const std::set<std::string> left = AllKeys(fake.registry);
    if (other && !otherIsOwn) {
      FUZZ_CHECK(std::includes(left.begin(), left.end(), before.begin(), before.end()));
      for (const std::string& key : left) FUZZ_CHECK(before.contains(key) || allowed.contains(key));
      FUZZ_CHECK(!fake.registry.KeyExists(reg_root::kClassesRoot, own));
    } else {
      FUZZ_CHECK(left == before || (other && otherIsOwn));
    }
  }
  FUZZ_CHECK(fake.registry.OpenHandleCount() == 0);
  return 0;
}
