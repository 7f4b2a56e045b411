#pragma once
// Registration and unregistration of a component: its key under the program's AppID with the
// configuration as installed and a fresh ServiceID, the COM class and type library that every
// component shares, the event sources, the Windows service and the shortcuts.

#include <string>
#include <vector>

#include "config/configuration.h"
#include "install/registry_layout.h"
#include "install/service_installation.h"
#include "install/shortcuts.h"
#include "log/component_log.h"
#include "log/notices.h"
#include "platform/platform.h"

namespace keldran {

class Registration {
 public:
  Registration(Platform& platform, ComponentLog& events, const Configuration& config,
               const RunFlags& flags, INotices& notices)
      : platform_(platform),
        events_(events),
        config_(config),
        flags_(flags),
        notices_(notices),
        service_(platform, events, config),
        shortcuts_(platform, events, config, flags) {}

  // Negative after a reported failure; 0 otherwise, also when only the type library or the
  // shortcuts failed (reported as event 901).
  [[nodiscard]] HResult RegisterComponent(bool registerTypeLibrary, bool asService);
  // Negative when the name is refused or the service cannot be removed (then nothing else is
  // touched); 0 otherwise. The pieces that every component shares go with the last component.
  [[nodiscard]] HResult UnregisterComponent();

  // A new GUID as ServiceID; false after reporting the failure.
  [[nodiscard]] bool GenerateServiceID(std::string* serviceId);

 private:
  // The component names a registry key and a Start-menu folder that unregistration deletes
  // with everything in it: a name that could reach beyond them is refused (reported).
  [[nodiscard]] bool CheckComponentName(std::uint32_t eventId);
  // The COM class with its ProgID, the program's AppID, and the component's own key, in the
  // order they are written.
  std::vector<LayoutBlock> Layout(const std::string& serviceId) const;
  std::string ComponentKeyPath() const;
  // "KeldranService.<component>", under which runs in the at-sign form report.
  std::string OwnEventSource() const;
  bool NeedsOwnEventSource(bool asService) const;
  // Whether a component's key is left under the AppID's Services key.
  bool OtherComponentsRegistered();
  HResult UnregisterTypeLibrary();
  void RemoveTypeLibraryKeys();
  void RegisterEventSource(const std::string& source, const std::string& messageFile);

  Platform& platform_;
  ComponentLog& events_;
  const Configuration& config_;
  const RunFlags& flags_;
  INotices& notices_;
  ServiceInstallation service_;
  Shortcuts shortcuts_;
};

}  // namespace keldran
