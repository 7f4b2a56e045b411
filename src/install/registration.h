#pragma once
// Registration and unregistration of a component: its registry entries, event source, type
// library, Windows service and shortcuts.

#include "config/configuration.h"
#include "log/component_log.h"
#include "platform/platform.h"

namespace keldran {

class Registration {
 public:
  Registration(Platform& platform, ComponentLog& events, const Configuration& config)
      : platform_(platform), events_(events), config_(config) {}

  HResult RegisterComponent(bool registerTypeLibrary, bool asService);
  HResult UnregisterComponent();

 private:
  [[maybe_unused]] Platform& platform_;
  ComponentLog& events_;
  [[maybe_unused]] const Configuration& config_;
};

}  // namespace keldran
