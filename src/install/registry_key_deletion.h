#pragma once
// Deletion of the registry keys that the component's DeleteRegKeys setting names ("HKLM\..." or
// "HKCU\...", separated by semicolons), each with its whole subtree, before every start of the
// client.

#include <string>

#include "log/component_log.h"
#include "platform/platform.h"

namespace keldran {

class RegistryKeyDeletion {
 public:
  RegistryKeyDeletion(Platform& platform, ComponentLog& events)
      : platform_(platform), events_(events) {}

  // Nothing here stops the start: problems are logged and the next key is taken.
  void DeleteRegistryKeys(const std::string& setting);

 private:
  // Deletes one key with its subtree; empty on success, else the error description. The walk
  // uses the wide calls, so a subkey whose name the ANSI code page cannot spell is found and
  // deleted by its real name; log lines and messages show paths in their ANSI form.
  std::string DeleteRegistryKeyTree(RegKey root, const WideString& path);

  Platform& platform_;
  ComponentLog& events_;
};

}  // namespace keldran
