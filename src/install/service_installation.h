#pragma once
// The program's entry in the Service Control Manager: installed when a component is registered
// as a service, removed by every registration and by unregistration. Installing also sweeps away
// earlier versions of the program (own-process services whose names begin "KeldranGridAgent").

#include "config/configuration.h"
#include "log/component_log.h"
#include "platform/platform.h"

namespace keldran {

class ServiceInstallation {
 public:
  ServiceInstallation(Platform& platform, ComponentLog& events, const Configuration& config)
      : platform_(platform), events_(events), config_(config) {}

  // True when the service can be opened to query its configuration; reports nothing.
  bool IsServiceInstalled();
  // True when the service exists afterwards (also when it already did); false after a reported
  // failure (event 901).
  [[nodiscard]] bool InstallService();
  // True when there was no service or it is marked for deletion; false after a reported failure
  // (event 905).
  [[nodiscard]] bool RemoveService();

 private:
  void RemoveEarlierVersions(ScHandle manager);
  bool Fail(std::uint32_t eventId, const char* sentence, Win32Error error);

  Platform& platform_;
  ComponentLog& events_;
  const Configuration& config_;
};

}  // namespace keldran
