#pragma once
// The component's entry in the Service Control Manager: installed when the component is
// registered as a service, removed by every registration of the component and by its
// unregistration. Installing also sweeps away earlier versions of the program (own-process
// services whose names begin "KeldranGridAgent", but never this version's services).

#include "config/configuration.h"
#include "log/component_log.h"
#include "platform/platform.h"

namespace keldran {

class ServiceInstallation {
 public:
  ServiceInstallation(Platform& platform, ComponentLog& events, const Configuration& config)
      : platform_(platform), events_(events), config_(config) {}

  // True when the service exists afterwards (also when it already did); false after a reported
  // failure (event 901). Settings that Windows refuses (recovery, preshutdown, delayed start)
  // are reported in one warning and do not fail it.
  [[nodiscard]] bool InstallService();
  // True when there was no service or it is marked for deletion; false after a reported failure
  // with the given event: the service manager or the service cannot be opened (for want of
  // rights, say) or the service cannot be deleted.
  [[nodiscard]] bool RemoveService(std::uint32_t failureEvent);
  // Asks the component's service to stop unless it is stopped or not installed, and waits until
  // it is, at most waitMs. *wasRunning: it was not stopped at first. False after a reported
  // failure with the given event (no rights, or it did not stop in time).
  [[nodiscard]] bool StopService(std::uint32_t waitMs, std::uint32_t failureEvent,
                                 bool* wasRunning);
  // Starts the installed service (one that runs already counts); false after a reported failure
  // (event 901).
  [[nodiscard]] bool StartService();

 private:
  void RemoveEarlierVersions(ScHandle manager);
  void ApplySettings(ScHandle service);
  bool Fail(std::uint32_t eventId, const char* sentence, Win32Error error);

  Platform& platform_;
  ComponentLog& events_;
  const Configuration& config_;
};

// "restart after 5 s, 30 s, 60 s (count reset after 1 day)", or "off" without delays.
std::string RecoveryDescription(const std::vector<std::uint32_t>& delaysSeconds);
// How long an installer step waits for a running service to stop: the host's own wait for its
// client, and time to end after it.
constexpr std::uint32_t kInstallerStopWaitMs = service_timing::kStopWaitMs + 15000;
constexpr std::uint32_t kServiceStatePollMs = 250;
// How long the Service Control Manager waits without failures before it counts from the first
// action again.
constexpr std::uint32_t kRecoveryResetSeconds = 86400;

}  // namespace keldran
