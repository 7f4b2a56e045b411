// The program's entry in the Service Control Manager.
#include "install/service_installation.h"

#include <vector>

#include "log/error_text.h"

namespace keldran {
namespace {

constexpr std::uint32_t kAutoStart = 2;
constexpr std::uint32_t kDemandStart = 3;
constexpr std::uint32_t kErrorNormal = 1;

}  // namespace

bool ServiceInstallation::Fail(std::uint32_t eventId, const char* sentence, Win32Error error) {
  const std::string text = sentence + errorText(platform_.texts, error);
  (void)events_.logError(category::kInstall, eventId, text.c_str());
  return false;
}

bool ServiceInstallation::InstallService() {
  IServiceManager& scm = platform_.services;
  ScopedScHandle manager(scm);
  if (Win32Error e = scm.OpenManager(service_access::kManagerAll, manager.put())) {
    return Fail(event::kInstallFailed, "Could not open service manager; reason = ", e);
  }
  {
    ScopedScHandle existing(scm);
    if (scm.OpenService(manager.get(), config_.ServiceName, service_access::kQueryConfig,
                        existing.put()) == 0) {
      return true;
    }
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
    return Fail(event::kInstallFailed, "Could not create service; reason = ", e);
  }
  // Older systems lack the call; the service then has no description.
  (void)scm.SetDescription(service.get(), config_.Description);
  ApplySettings(service.get());
  return true;
}

// The service is usable without these: each that Windows refuses is named, with its reason, in
// one warning.
void ServiceInstallation::ApplySettings(ScHandle service) {
  IServiceManager& scm = platform_.services;
  std::string missing;
  auto check = [&](const std::string& what, Win32Error e) {
    if (e == 0) return;
    missing += (missing.empty() ? "Service registered without " : "; without ") + what + ": " +
               errorText(platform_.texts, e, false, false);
  };
  if (!config_.RecoveryDelays.empty()) {
    FailureActions actions;
    actions.resetPeriodSeconds = kRecoveryResetSeconds;
    for (const std::uint32_t seconds : config_.RecoveryDelays)
      actions.restartDelaysMs.push_back(seconds * 1000);
    check("its recovery (" + RecoveryDescription(config_.RecoveryDelays) + ")",
          scm.SetFailureActions(service, actions));
    // Without the flag a service that stops with an error code has not failed.
    check("recovery after a stop with an error code", scm.SetFailureActionsFlag(service, true));
  }
  check("its preshutdown time",
        scm.SetPreshutdownTimeout(service, service_timing::kPreshutdownTimeoutMs));
  if (config_.DelayedStart != 0 && config_.AutoStart != 0)
    check("delayed automatic start", scm.SetDelayedAutoStart(service, true));
  if (!missing.empty()) events_.logWarning(category::kInstall, event::kText, missing.c_str());
}

// Earlier versions installed the program under other names; they would fight this one over the
// client and the registration. Failures here change nothing for the new installation.
void ServiceInstallation::RemoveEarlierVersions(ScHandle manager) {
  IServiceManager& scm = platform_.services;
  std::vector<EnumeratedService> services;
  if (scm.EnumOwnProcessServices(manager, &services) != 0) return;
  const std::string prefix = names::kServicePrefix;
  const std::string thisVersion = names::kServiceName;
  for (const EnumeratedService& found : services) {
    // Byte for byte: a name that differs only in case belongs to someone else.
    if (!found.name.starts_with(prefix)) continue;
    // This version's services belong to its other components.
    if (found.name == thisVersion ||
        found.name.starts_with(thisVersion + names::kInstanceSeparator))
      continue;
    ScopedScHandle service(scm);
    if (scm.OpenService(manager, found.name, service_access::kStop | service_access::kDelete,
                        service.put()) != 0) {
      continue;
    }
    (void)scm.Control(service.get(), service_control::kStop, nullptr);
    (void)scm.Delete(service.get());
  }
}

bool ServiceInstallation::RemoveService(std::uint32_t failureEvent) {
  IServiceManager& scm = platform_.services;
  ScopedScHandle manager(scm);
  if (Win32Error e = scm.OpenManager(service_access::kManagerAll, manager.put())) {
    return Fail(failureEvent, "Could not open service manager; reason = ", e);
  }
  ScopedScHandle service(scm);
  const Win32Error opened =
      scm.OpenService(manager.get(), config_.ServiceName,
                      service_access::kStop | service_access::kDelete, service.put());
  if (opened == win32_error::kServiceDoesNotExist) return true;
  if (opened != 0) {
    manager.reset();
    return Fail(failureEvent, "Could not open service; reason = ", opened);
  }
  // A running service goes when it has stopped; the stop is asked for, not waited for.
  (void)scm.Control(service.get(), service_control::kStop, nullptr);
  const Win32Error deleted = scm.Delete(service.get());
  service.reset();
  manager.reset();
  if (deleted != 0) return Fail(failureEvent, "Service could not be deleted; reason = ", deleted);
  return true;
}

bool ServiceInstallation::StopService(std::uint32_t waitMs, std::uint32_t failureEvent,
                                      bool* wasRunning) {
  IServiceManager& scm = platform_.services;
  *wasRunning = false;
  ScopedScHandle manager(scm);
  if (Win32Error e = scm.OpenManager(service_access::kManagerConnect, manager.put())) {
    return Fail(failureEvent, "Could not open service manager; reason = ", e);
  }
  ScopedScHandle service(scm);
  const Win32Error opened =
      scm.OpenService(manager.get(), config_.ServiceName,
                      service_access::kStop | service_access::kQueryStatus, service.put());
  if (opened == win32_error::kServiceDoesNotExist) return true;
  if (opened != 0) return Fail(failureEvent, "Could not open service; reason = ", opened);
  ServiceStatus status;
  if (Win32Error e = scm.QueryStatus(service.get(), &status)) {
    return Fail(failureEvent, "Could not query service; reason = ", e);
  }
  if (status.currentState == service_state::kStopped) return true;
  *wasRunning = true;
  // Windows takes a stop only from a running or paused service; one that is starting or already
  // stopping is waited for.
  if (status.currentState == service_state::kRunning ||
      status.currentState == service_state::kPaused) {
    (void)scm.Control(service.get(), service_control::kStop, &status);
  }
  IClock& clock = platform_.clock;
  const std::uint32_t started = clock.TickCount();
  while (clock.TickCount() - started < waitMs) {
    clock.Sleep(kServiceStatePollMs);
    if (Win32Error e = scm.QueryStatus(service.get(), &status)) {
      return Fail(failureEvent, "Could not query service; reason = ", e);
    }
    if (status.currentState == service_state::kStopped) return true;
  }
  const std::string text =
      Format("The service %s did not stop within %u s", config_.ServiceName.c_str(), waitMs / 1000);
  (void)events_.logError(category::kInstall, failureEvent, text.c_str());
  return false;
}

bool ServiceInstallation::StartService() {
  IServiceManager& scm = platform_.services;
  ScopedScHandle manager(scm);
  if (Win32Error e = scm.OpenManager(service_access::kManagerConnect, manager.put())) {
    return Fail(event::kInstallFailed, "Could not open service manager; reason = ", e);
  }
  ScopedScHandle service(scm);
  if (Win32Error e = scm.OpenService(manager.get(), config_.ServiceName, service_access::kStart,
                                     service.put())) {
    return Fail(event::kInstallFailed, "Could not open service; reason = ", e);
  }
  const Win32Error e = scm.StartService(service.get());
  if (e != 0 && e != win32_error::kServiceAlreadyRunning) {
    return Fail(event::kInstallFailed, "Could not start service; reason = ", e);
  }
  return true;
}

std::string RecoveryDescription(const std::vector<std::uint32_t>& delaysSeconds) {
  if (delaysSeconds.empty()) return "off";
  std::string text = "restart after ";
  for (std::size_t i = 0; i < delaysSeconds.size(); ++i)
    text += (i == 0 ? "" : ", ") + std::to_string(delaysSeconds[i]) + " s";
  return text + " (count reset after 1 day)";
}

}  // namespace keldran
