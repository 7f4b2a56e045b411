// The program's entry in the Service Control Manager.
#include "install/service_installation.h"

#include <vector>

#include "log/error_text.h"

namespace keldran {
namespace {

constexpr std::uint32_t kNotInstalled = 901;
constexpr std::uint32_t kNotRemoved = 905;
constexpr std::uint32_t kAutoStart = 2;
constexpr std::uint32_t kDemandStart = 3;
constexpr std::uint32_t kErrorNormal = 1;

}  // namespace

bool ServiceInstallation::Fail(std::uint32_t eventId, const char* sentence, Win32Error error) {
  const std::string text = sentence + errorText(platform_.texts, error);
  (void)events_.logError(category::kInstall, eventId, text.c_str());
  return false;
}

bool ServiceInstallation::IsServiceInstalled() {
  IServiceManager& scm = platform_.services;
  ScopedScHandle manager(scm);
  if (scm.OpenManager(service_access::kManagerAll, manager.put()) != 0) return false;
  ScopedScHandle service(scm);
  return scm.OpenService(manager.get(), config_.ServiceName, service_access::kQueryConfig,
                         service.put()) == 0;
}

bool ServiceInstallation::InstallService() {
  if (IsServiceInstalled()) return true;
  IServiceManager& scm = platform_.services;
  ScopedScHandle manager(scm);
  if (Win32Error e = scm.OpenManager(service_access::kManagerAll, manager.put())) {
    return Fail(kNotInstalled, "Could not open service manager; reason = ", e);
  }
  RemoveEarlierVersions(manager.get());

  ServiceDefinition definition;
  definition.name = config_.ServiceName;
  definition.displayName = config_.DisplayName;
  definition.desiredAccess = service_access::kAll;
  // Without an account the service runs as LocalSystem and may show its client's window.
  definition.serviceType = config_.LogonUser.empty()
                               ? service_type::kOwnProcess | service_type::kInteractive
                               : service_type::kOwnProcess;
  definition.startType = config_.AutoStart != 0 ? kAutoStart : kDemandStart;
  definition.errorControl = kErrorNormal;
  definition.binaryPath = config_.ServicePath;
  definition.dependencies = {"RPCSS", "TCPIP"};
  definition.account = config_.LogonUser;
  definition.password = config_.LogonPassword;
  ScopedScHandle service(scm);
  const Win32Error e = scm.CreateService(manager.get(), definition, service.put());
  WipeSecret(&definition.password);
  if (e != 0) {
    manager.reset();
    return Fail(kNotInstalled, "Could not create service; reason = ", e);
  }
  // Older systems lack the call; the service then has no description.
  (void)scm.SetDescription(service.get(), config_.Description);
  return true;
}

// Earlier versions installed the program under other names; they would fight this one over the
// client and the registration. Failures here change nothing for the new installation.
void ServiceInstallation::RemoveEarlierVersions(ScHandle manager) {
  IServiceManager& scm = platform_.services;
  std::vector<EnumeratedService> services;
  if (scm.EnumOwnProcessServices(manager, &services) != 0) return;
  const std::string prefix = names::kServicePrefix;
  for (const EnumeratedService& found : services) {
    // Byte for byte: a name that differs only in case belongs to someone else.
    if (!found.name.starts_with(prefix)) continue;
    ScopedScHandle service(scm);
    if (scm.OpenService(manager, found.name, service_access::kStop | service_access::kDelete,
                        service.put()) != 0) {
      continue;
    }
    (void)scm.Control(service.get(), service_control::kStop, nullptr);
    (void)scm.Delete(service.get());
  }
}

bool ServiceInstallation::RemoveService() {
  if (!IsServiceInstalled()) return true;
  IServiceManager& scm = platform_.services;
  ScopedScHandle manager(scm);
  if (Win32Error e = scm.OpenManager(service_access::kManagerAll, manager.put())) {
    return Fail(kNotRemoved, "Could not open service manager; reason = ", e);
  }
  ScopedScHandle service(scm);
  if (Win32Error e =
          scm.OpenService(manager.get(), config_.ServiceName,
                          service_access::kStop | service_access::kDelete, service.put())) {
    manager.reset();
    return Fail(kNotRemoved, "Could not open service; reason = ", e);
  }
  // A running service goes when it has stopped; the stop is asked for, not waited for.
  (void)scm.Control(service.get(), service_control::kStop, nullptr);
  const Win32Error deleted = scm.Delete(service.get());
  service.reset();
  manager.reset();
  if (deleted != 0) return Fail(kNotRemoved, "Service could not be deleted; reason = ", deleted);
  return true;
}

}  // namespace keldran
