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
// How long the Service Control Manager waits without failures before it counts from the first
// action again.
constexpr std::uint32_t kRecoveryResetSeconds = 86400;

}  // namespace keldran
