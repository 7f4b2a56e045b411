#pragma once
// The Start-menu shortcuts of a component registered as an application, for all users: a folder
// "Keldran\<component> Server" with a shortcut that starts the component and one that stops it,
// and, for a component that starts automatically, one in the all-users start-up folder.

#include "config/configuration.h"
#include "log/component_log.h"
#include "platform/platform.h"

namespace keldran {

class Shortcuts {
 public:
  Shortcuts(Platform& platform, ComponentLog& events, const Configuration& config,
            const RunFlags& flags)
      : platform_(platform), events_(events), config_(config), flags_(flags) {}

  // Creates the shortcuts (only when registering as an application) or removes them. 1 after
  // creating, 0 after removing, E_FAIL after a reported failure (event 901 or 905).
  [[nodiscard]] HResult UpdateShortcuts(bool create);

 private:
  struct Paths;
  HResult Create(const Paths& paths);
  HResult Remove(const Paths& paths);
  // Replaces the shortcut; false after reporting a failure to save it.
  bool Save(const std::string& path, const std::string& arguments, const std::string& description);

  Platform& platform_;
  ComponentLog& events_;
  const Configuration& config_;
  const RunFlags& flags_;
};

}  // namespace keldran
