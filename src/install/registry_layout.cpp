// Registry entries written from typed data, and taken away again.
#include "install/registry_layout.h"

#include <cctype>
#include <string_view>

namespace keldran {
namespace {

constexpr std::uint32_t kKeyAccess = reg_access::kRead | reg_access::kWrite;

// Shared keys of the system that a ForceRemove never deletes, whatever a name expands to.
constexpr const char* kProtectedNames[] = {"AppID",    "CLSID",     "Component Categories",
                                           "FileType", "Interface", "Hardware",
                                           "Mime",     "SAM",       "SECURITY",
                                           "SYSTEM",   "Software",  "TypeLib"};

bool IsProtected(const std::string& name) {
  for (const std::string_view protectedName : kProtectedNames) {
    if (name.size() != protectedName.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = std::tolower(static_cast<unsigned char>(name[i])) ==
             std::tolower(static_cast<unsigned char>(protectedName[i]));
    }
    if (same) return true;
  }
  return false;
}

Win32Error SetLayoutValue(IRegistry& registry, RegKey key, const LayoutValue& value) {
  if (value.type == RegType::kDword) {
    if (value.number < 0 || value.number > 0xFFFFFFFFll) return win32_error::kInvalidParameter;
    return SetDwordValue(registry, key, value.name, static_cast<std::uint32_t>(value.number));
  }
  return SetStringValue(registry, key, value.name, value.text, value.type);
}

bool RegisterKey(IRegistry& registry, RegKey parent, const LayoutKey& layout) {
  if (layout.marker == KeyMarker::kForceRemove && !IsProtected(layout.name)) {
    (void)DeleteKeyTree(registry, parent, layout.name);
  }
  ScopedRegKey key(registry);
  if (registry.CreateKey(parent, layout.name, kKeyAccess, key.put()) != 0) return false;
  for (const LayoutValue& value : layout.values) {
    if (SetLayoutValue(registry, key.get(), value) != 0) return false;
  }
  for (const LayoutKey& subkey : layout.subkeys) {
    if (!RegisterKey(registry, key.get(), subkey)) return false;
  }
  return true;
}

void UnregisterKey(IRegistry& registry, RegKey parent, const LayoutKey& layout) {
  {
    ScopedRegKey key(registry);
    if (registry.OpenKey(parent, layout.name, kKeyAccess, key.put()) != 0) return;
    for (const LayoutKey& subkey : layout.subkeys) UnregisterKey(registry, key.get(), subkey);
    for (const LayoutValue& value : layout.values) {
      if (!value.name.empty()) (void)registry.DeleteValue(key.get(), value.name);
    }
    if (layout.marker == KeyMarker::kNoRemove) return;
    std::string child;
    if (registry.EnumKey(key.get(), 0, &child) == 0) return;  // someone else's keys remain
  }
  (void)registry.DeleteKey(parent, layout.name);
}

}  // namespace

bool DeleteKeyTree(IRegistry& registry, RegKey parent, const std::string& name,
                   std::uint32_t view) {
  {
    ScopedRegKey key(registry);
    if (registry.OpenKey(parent, name, kKeyAccess | view, key.put()) != 0) return false;
    // Each deleted child moves the next one to index 0.
    std::string child;
    while (registry.EnumKey(key.get(), 0, &child) == 0) {
      if (!DeleteKeyTree(registry, key.get(), child, view)) return false;
    }
  }
  return registry.DeleteKey(parent, name) == 0;
}

bool RegisterLayout(IRegistry& registry, RegKey root, const LayoutBlock& block) {
  for (const LayoutKey& key : block) {
    if (!RegisterKey(registry, root, key)) {
      UnregisterLayout(registry, root, block);
      return false;
    }
  }
  return true;
}

void UnregisterLayout(IRegistry& registry, RegKey root, const LayoutBlock& block) {
  for (const LayoutKey& key : block) UnregisterKey(registry, root, key);
}

}  // namespace keldran
