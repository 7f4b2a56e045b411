// Registration and unregistration of a component. The registry entries are written from typed
// values (see registry_layout.h), never from text that is parsed, so configuration text lands
// in the registry as it is.
#include "install/registration.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "log/error_text.h"
#include "log/text.h"

namespace keldran {
namespace {

constexpr const char* kApplicationLog =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr std::uint32_t kTypesSupported = 7;  // error, warning and information
constexpr std::uint32_t kCategoryCount = 15;  // the categories of the message table
constexpr const char* kServicesText =
    "Parameters listed for each service are AS INSTALLED but may have been overridden by "
    "subsequent changes to the corresponding INI file";

// Characters that Windows refuses in a file name, or that would lead out of a registry key.
constexpr const char* kForbiddenInName = "\\/:*?\"<>|";

LayoutKey Key(std::string name, std::vector<LayoutValue> values = {},
              std::vector<LayoutKey> subkeys = {}, KeyMarker marker = KeyMarker::kNone) {
  return LayoutKey{std::move(name), marker, std::move(values), std::move(subkeys)};
}

LayoutValue Default(std::string text) { return LayoutValue::Text({}, std::move(text)); }

}  // namespace

bool Registration::CheckComponentName(std::uint32_t eventId) {
  const std::string& name = config_.ServiceComp;
  bool usable = !name.empty();
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || std::strchr(kForbiddenInName, c)) usable = false;
  }
  if (usable) return true;
  const std::string text = "Component name \"" + name +
                           "\" cannot be used: it must not be empty or hold \\ / : * ? \" < > | "
                           "or control characters";
  (void)events_.logError(category::kInstall, eventId, text.c_str());
  return false;
}

bool Registration::GenerateServiceID(std::string* serviceId) {
  if (const HResult hr = platform_.com.CreateGuidText(serviceId); Failed(hr)) {
    const std::string reason = errorText(platform_.texts, static_cast<std::uint32_t>(hr));
    (void)events_.logError(category::kInstall, event::kInstallFailed,
                           "Unable to generate ServiceID guid", reason.c_str());
    return false;
  }
  return true;
}

std::string Registration::ComponentKeyPath() const {
  return std::string("AppID\\") + names::kAppId + "\\Services\\" + config_.ServiceComp;
}

std::vector<LayoutBlock> Registration::Layout(const std::string& serviceId) const {
  const std::string module = platform_.processes.ModuleFileName();
  const std::string versionedProgId = std::string(names::kProgId) + "." + names::kLibVersion;
  const Configuration& c = config_;
  using V = LayoutValue;
  LayoutBlock comClass = {
      Key(names::kProgId, {Default(names::kClassName)},
          {Key("CLSID", {Default(names::kClsid)}), Key("CurVer", {Default(versionedProgId)})}),
      Key("CLSID", {},
          {Key(names::kClsid, {Default(names::kClassName), V::Text("AppID", names::kAppId)},
               {Key("ProgID", {Default(versionedProgId)}),
                Key("VersionIndependentProgID", {Default(names::kProgId)}),
                Key("Programmable", {}, {}, KeyMarker::kForceRemove),
                Key("LocalServer32", {Default("\"" + module + "\"")}),
                Key("TypeLib", {Default(names::kLibId)})},
               KeyMarker::kForceRemove)},
          KeyMarker::kNoRemove)};
  LayoutBlock appId = {Key("AppID", {},
                           {Key(names::kAppId, {Default(c.AppName)}, {Key("Services")}),
                            Key(c.AppName + ".EXE", {V::Text("AppID", names::kAppId)})},
                           KeyMarker::kNoRemove)};
  LayoutBlock component = {Key(
      "AppID", {},
      {Key(names::kAppId, {Default(c.AppName)},
           {Key("Services", {Default(kServicesText)},
                {Key(c.ServiceComp,
                     {V::Text("IniFile", c.IniFile), V::Text("ServiceID", serviceId),
                      V::Text("ServicePath", c.ServicePath), V::Text("ServiceName", c.ServiceName),
                      V::Text("DisplayName", c.DisplayName), V::Text("Description", c.Description),
                      V::Text("CommandLine", c.CommandLine), V::Text("WorkingDir", c.WorkingDir),
                      V::Number("AutoStart", c.AutoStart), V::Number("Show", c.Show),
                      V::Number("Debug", c.Debug), V::Number("Timeout", c.Timeout)},
                     {}, KeyMarker::kForceRemove)})})},
      KeyMarker::kNoRemove)};
  return {comClass, appId, component};
}

std::string Registration::OwnEventSource() const {
  return names::kAtFormServicePrefix + config_.ServiceComp;
}

bool Registration::NeedsOwnEventSource(bool asService) const {
  // The at-sign form reports under its own source, and so does a service whose image path
  // names the component in that form (every component but Grid).
  return events_.log().eventSourceName() == OwnEventSource() ||
         (asService && config_.ServiceName != names::kServiceName);
}

bool Registration::OtherComponentsRegistered() {
  IRegistry& registry = platform_.registry;
  ScopedRegKey services(registry);
  if (registry.OpenKey(reg_root::kClassesRoot,
                       std::string("AppID\\") + names::kAppId + "\\Services", reg_access::kRead,
                       services.put()) != 0) {
    return false;
  }
  std::string name;
  return registry.EnumKey(services.get(), 0, &name) == 0;
}

void Registration::RegisterEventSource(const std::string& source, const std::string& messageFile) {
  IRegistry& registry = platform_.registry;
  ISystemTexts& texts = platform_.texts;
  const std::string shown = std::string("HKEY_LOCAL_MACHINE\\") + kApplicationLog + "\\";
  auto warn = [&](std::uint32_t id, const std::string& what, Win32Error e) {
    events_.logWarning(category::kInstall, id, what.c_str(), errorText(texts, e).c_str());
  };
  ScopedRegKey application(registry);
  if (Win32Error e = registry.OpenKey(reg_root::kLocalMachine, kApplicationLog,
                                      reg_access::kQueryValue | reg_access::kEnumerateSubKeys |
                                          reg_access::kNotify | reg_access::kCreateSubKey |
                                          reg_access::kReadControl,
                                      application.put())) {
    return warn(event::kRegOpen, shown.substr(0, shown.size() - 1), e);
  }
  ScopedRegKey key(registry);
  if (Win32Error e =
          registry.CreateKey(application.get(), source, reg_access::kAllAccess, key.put())) {
    return warn(event::kRegCreate, shown + source, e);
  }
  // Each value on its own: one that cannot be set does not keep the others out.
  if (Win32Error e = SetStringValue(registry, key.get(), "EventMessageFile", messageFile))
    warn(event::kRegSet, shown + "EventMessageFile", e);
  if (Win32Error e = SetDwordValue(registry, key.get(), "TypesSupported", kTypesSupported))
    warn(event::kRegSet, shown + "TypesSupported", e);
  if (Win32Error e = SetStringValue(registry, key.get(), "CategoryMessageFile", messageFile,
                                    RegType::kExpandSz))
    warn(event::kRegSet, shown + "CategoryMessageFile", e);
  if (Win32Error e = SetDwordValue(registry, key.get(), "CategoryCount", kCategoryCount))
    warn(event::kRegSet, shown + "CategoryCount", e);
}

HResult Registration::RegisterComponent(bool registerTypeLibrary, bool asService) {
  if (!CheckComponentName(event::kInstallFailed)) return kEFail;
  IRegistry& registry = platform_.registry;
  // Re-registration always starts without the component's service: a changed account or start
  // type takes effect only through a new one, and an application must not leave one behind.
  if (!service_.RemoveService(event::kInstallFailed)) return kEFail;
  std::string serviceId;
  if (!GenerateServiceID(&serviceId)) return kEFail;
  // A block that fails is undone by itself; a failed component block shows in the next step.
  for (const LayoutBlock& block : Layout(serviceId)) {
    (void)RegisterLayout(registry, reg_root::kClassesRoot, block);
  }
  const std::string module = platform_.processes.ModuleFileName();
  RegisterEventSource(names::kServiceName, module);
  if (NeedsOwnEventSource(asService)) RegisterEventSource(OwnEventSource(), module);

  const std::string keyPath = ComponentKeyPath();
  ScopedRegKey key(registry);
  if (Win32Error e =
          registry.OpenKey(reg_root::kClassesRoot, keyPath, reg_access::kWrite, key.put())) {
    // Nothing else is done without the component's key, and the run must look failed to the
    // script or installer that started it.
    const std::string path = "HKEY_CLASSES_ROOT\\" + keyPath;
    return events_.logError(category::kInstall, event::kRegOpen, path.c_str(),
                            errorText(platform_.texts, e).c_str());
  }
  (void)SetDwordValue(registry, key.get(), "LocalService", 0);
  if (asService) {
    (void)SetDwordValue(registry, key.get(), "LocalService", 1);
    if (!service_.InstallService()) {
      (void)service_.RemoveService(event::kInstallFailed);
      return kEFail;
    }
  }

  HResult hr = registerTypeLibrary ? platform_.com.RegisterTypeLibrary(module) : kSOk;
  if (Succeeded(hr)) hr = shortcuts_.UpdateShortcuts(true);
  if (Succeeded(hr)) {
    const std::string commandLine = platform_.processes.CommandLine();
    const char* strings[] = {"\r\n\r\nCommandLine was:\r\n\r\n", commandLine.c_str()};
    events_.logEvent(event_type::kInformation, category::kInstall, event::kInstalled, strings, 2);
    if (!flags_.Quiet)
      notices_.PostNotice("Service was successfully registered", notice_kind::kInformation);
  } else {
    // The same words stand for a failed type library and failed shortcuts.
    (void)events_.logError(category::kInstall, event::kInstallFailed, "Unable to register typelib",
                           errorText(platform_.texts, static_cast<std::uint32_t>(hr)).c_str());
  }
  return kSOk;
}

HResult Registration::UnregisterComponent() {
  if (!CheckComponentName(event::kRemoveFailed)) return kEFail;
  // The service first: when it cannot be removed, the registration stays whole.
  if (!service_.RemoveService(event::kRemoveFailed)) return kEFail;
  IRegistry& registry = platform_.registry;
  const std::vector<LayoutBlock> layout = Layout(config_.ServiceID);
  UnregisterLayout(registry, reg_root::kClassesRoot, layout.back());
  // The class, the AppID entries, the type library and the shared event source serve every
  // component: the last one takes them away.
  const bool last = !OtherComponentsRegistered();
  if (last) {
    for (std::size_t i = 0; i + 1 < layout.size(); ++i)
      UnregisterLayout(registry, reg_root::kClassesRoot, layout[i]);
  }
  (void)shortcuts_.UpdateShortcuts(false);

  const HResult hr = last ? UnregisterTypeLibrary() : kSOk;
  if (Failed(hr)) {
    RemoveTypeLibraryKeys();
    (void)events_.logError(category::kInstall, event::kRemoveFailed, "Unable to unregister typelib",
                           errorText(platform_.texts, static_cast<std::uint32_t>(hr)).c_str());
  } else {
    events_.logInfo(category::kInstall, event::kRemoved);
    notices_.PostNotice("Service was successfully unregistered", notice_kind::kInformation);
  }

  // A key deletion: a source key that someone gave subkeys stays.
  ScopedRegKey application(registry);
  if (registry.OpenKey(reg_root::kLocalMachine, kApplicationLog,
                       reg_access::kRead | reg_access::kSetValue | reg_access::kCreateSubKey,
                       application.put()) == 0) {
    (void)registry.DeleteKey(application.get(), OwnEventSource());
    if (last) (void)registry.DeleteKey(application.get(), names::kServiceName);
  }
  return kSOk;
}

// Wine's UnRegisterTypeLib learns the interfaces from the registered file; when that file is gone
// (an installer's rollback runs after the files were removed) it fails and leaves the TypeLib key
// and the Interface keys in both registry views. An Interface key goes only while its TypeLib
// still names this library: another program may have taken the interface over.
void Registration::RemoveTypeLibraryKeys() {
  IRegistry& registry = platform_.registry;
  for (const std::uint32_t view : {reg_access::kView64, reg_access::kView32}) {
    ScopedRegKey interfaces(registry), libraries(registry);
    const std::uint32_t access = reg_access::kRead | reg_access::kWrite | view;
    if (registry.OpenKey(reg_root::kClassesRoot, "Interface", access, interfaces.put()) == 0) {
      for (const char* iid : names::kInterfaceIds) {
        std::vector<std::uint8_t> data;
        {
          ScopedRegKey typeLib(registry);
          RegType type = RegType::kNone;
          if (registry.OpenKey(interfaces.get(), std::string(iid) + "\\TypeLib",
                               reg_access::kRead | view, typeLib.put()) != 0 ||
              registry.QueryValue(typeLib.get(), "", &type, &data) != 0 || type != RegType::kSz) {
            continue;
          }
        }
        const std::string lib(data.begin(), std::find(data.begin(), data.end(), 0));
        if (EqualsIgnoringCase(lib, names::kLibId))
          (void)DeleteKeyTree(registry, interfaces.get(), iid, view);
      }
    }
    if (registry.OpenKey(reg_root::kClassesRoot, "TypeLib", access, libraries.put()) == 0)
      (void)DeleteKeyTree(registry, libraries.get(), names::kLibId, view);
  }
}

HResult Registration::UnregisterTypeLibrary() {
  return platform_.com.UnregisterTypeLibrary(names::kLibId, names::kLibMajor, names::kLibMinor);
}

}  // namespace keldran
