// Deletion of the registry keys that the component's DeleteRegKeys setting names, each with its
// whole subtree, before every start of the client. Nothing here stops the start: problems are
// logged and the next key is taken.
#include <string_view>

#include "install/registry_key_deletion.h"

#include "log/error_text.h"

namespace keldran {
namespace {

// A key that keeps failing is retried while the whole-second time is not later than this many
// seconds after the first try.
constexpr std::int64_t kRetrySeconds = 10;

struct RootPrefix {
  std::string_view text;
  RegKey root;
};

// Compared exactly, in this order.
constexpr RootPrefix kRootPrefixes[] = {
    {"HKCU\\", reg_root::kCurrentUser},
    {"HKLM\\", reg_root::kLocalMachine},
    {"HKEY_CURRENT_USER\\", reg_root::kCurrentUser},
    {"HKEY_LOCAL_MACHINE\\", reg_root::kLocalMachine},
};

}  // namespace

void RegistryKeyDeletion::DeleteRegistryKeys(const std::string& setting) {
  std::size_t pos = 0;
  while (pos < setting.size()) {
    const std::size_t semicolon = setting.find(';', pos);
    const std::string item =
        setting.substr(pos, semicolon == std::string::npos ? std::string::npos : semicolon - pos);
    pos = semicolon == std::string::npos ? setting.size() : semicolon + 1;
    if (item.empty()) continue;

    const RootPrefix* prefix = nullptr;
    for (const RootPrefix& candidate : kRootPrefixes) {
      if (item.starts_with(candidate.text)) {
        prefix = &candidate;
        break;
      }
    }
    if (!prefix) {
      const std::string message = item + "\n\nRoot must be HKLM\\ or HKCU\\";
      (void)events_.logError(category::kStartup, event::kRegDelete, message.c_str());
      continue;
    }
    const std::string path = item.substr(prefix->text.size());
    if (path.empty()) continue;
    // Windows refuses a key path that begins with a backslash (ERROR_BAD_PATHNAME), so retrying
    // it would only hold up the client's start; and were it taken as the root itself, the whole
    // hive would go.
    if (path[0] == '\\') {
      const std::string message = item + "\n\nA key name must follow the root's backslash";
      (void)events_.logError(category::kStartup, event::kRegDelete, message.c_str());
      continue;
    }

    // Another program (often the previous client, still shutting down) may hold the key for a
    // moment, so a failure is retried after a short pseudo-random pause.
    IClock& clock = platform_.clock;
    const std::int64_t started = clock.Time64();
    const WideString widePath = platform_.texts.AnsiToWide(path);
    std::string result = DeleteRegistryKeyTree(prefix->root, widePath);
    while (!result.empty() && clock.Time64() <= started + kRetrySeconds) {
      clock.Sleep(static_cast<std::uint32_t>(clock.PerformanceCounter() & 0xFF) + 1);
      result = DeleteRegistryKeyTree(prefix->root, widePath);
    }
    if (!result.empty()) events_.logWarning(category::kStartup, event::kRegDelete, result.c_str());
  }
}

std::string RegistryKeyDeletion::DeleteRegistryKeyTree(RegKey root, const WideString& path) {
  IRegistry& registry = platform_.registry;
  ISystemTexts& texts = platform_.texts;
  const std::string shown = texts.WideToAnsi(path);
  // A key without subkeys goes at once.
  if (registry.DeleteKeyW(root, path) == 0) {
    events_.logDebug("Deleted registry key: " + shown);
    return {};
  }

  ScopedRegKey key(registry);
  if (const Win32Error e = registry.OpenKeyW(root, path, reg_access::kRead, key.put())) {
    if (e == win32_error::kFileNotFound) {
      events_.logDebug("Deleted registry key (not found): " + shown);
      return {};
    }
    return shown + "\n\nRegOpenKeyEx returned: " + errorText(texts, e, false, true, true);
  }

  const WideString childPrefix = path.ends_with(u'\\') ? path : path + u'\\';
  // Enumeration through an open key follows the live key: once a subkey is deleted, the next
  // one moves down to index 0, so asking for index 0 each time visits every child (counting up
  // would skip every other one).
  WideString previous;
  for (;;) {
    WideString name;
    if (registry.EnumKeyW(key.get(), 0, &name) != 0) break;
    // A name that comes back after its deletion reported success cannot be reached by that
    // name; the parent's deletion below then fails and says so, instead of this loop spinning.
    if (!previous.empty() && name == previous) break;
    std::string result = DeleteRegistryKeyTree(root, childPrefix + name);
    if (!result.empty()) return result;
    previous = std::move(name);
  }
  key.reset();

  if (const Win32Error e = registry.DeleteKeyW(root, path)) {
    return shown + "\n\nRegDeleteKey returned: " + errorText(texts, e, false, true, true);
  }
  events_.logDebug("Deleted registry key: " + shown);
  return {};
}

}  // namespace keldran
