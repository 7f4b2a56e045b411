// DeleteRegKeys with any text, against a fake registry that holds a small tree under both roots:
// exactly the keys that the valid items name go, with their subtrees, and nothing else.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "install/registry_key_deletion.h"
#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

struct Root {
  RegKey key;
  const char* name;
};
constexpr Root kRoots[] = {{reg_root::kCurrentUser, "HKCU"}, {reg_root::kLocalMachine, "HKLM"}};

constexpr const char* kTree[] = {"Software\\A\\B\\C",       "Software\\A b", "Software\\Ab",
                                 "Software\\Keldran\\Grid", "Environment",   "SYSTEM\\Setup"};

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> out;
  std::string part;
  for (const char c : path + "\\") {
    if (c != '\\') {
      part += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    } else if (!part.empty()) {
      out.push_back(part);
      part.clear();
    }
  }
  return out;
}

// Every key below a root, as "HKCU\path".
void Collect(const fake::FakeRegistry& registry, const Root& root, const std::string& path,
             std::vector<std::string>* keys) {
  for (const std::string& name : registry.SubkeyNames(root.key, path)) {
    const std::string child = path.empty() ? name : path + "\\" + name;
    keys->push_back(std::string(root.name) + "\\" + child);
    Collect(registry, root, child, keys);
  }
}

std::vector<std::string> AllKeys(const fake::FakeRegistry& registry) {
  std::vector<std::string> keys;
  for (const Root& root : kRoots) Collect(registry, root, "", &keys);
  return keys;
}

struct Item {
  std::string root;  // "HKCU" or "HKLM"; empty when the item is refused
  std::vector<std::string> segments;
};

// The setting as its documentation reads: ";"-separated items, each beginning with one of four
// exact root spellings; a key path that begins with a backslash is refused as Windows refuses it.
std::vector<Item> Items(const std::string& setting) {
  static const std::pair<std::string, const char*> kPrefixes[] = {{"HKCU\\", "HKCU"},
                                                                  {"HKLM\\", "HKLM"},
                                                                  {"HKEY_CURRENT_USER\\", "HKCU"},
                                                                  {"HKEY_LOCAL_MACHINE\\", "HKLM"}};
  std::vector<Item> items;
  std::size_t start = 0;
  while (start < setting.size()) {
    std::size_t end = setting.find(';', start);
    if (end == std::string::npos) end = setting.size();
    const std::string text = setting.substr(start, end - start);
    start = end + 1;
    if (text.empty()) continue;
    const auto match = std::find_if(std::begin(kPrefixes), std::end(kPrefixes),
                                    [&](const auto& p) { return text.starts_with(p.first); });
    if (match == std::end(kPrefixes)) {
      items.push_back({});  // no root: refused
      continue;
    }
    const std::string path = text.substr(match->first.size());
    if (path.empty()) continue;  // the root alone: skipped
    items.push_back(path[0] == '\\' ? Item{} : Item{match->second, Segments(path)});
  }
  return items;
}

// A key goes when an item names it or one of its parents.
bool Named(const std::string& key, const std::vector<Item>& items) {
  const std::vector<std::string> parts = Segments(key);
  for (const Item& item : items) {
    if (item.root.empty()) continue;
    if (Segments(item.root)[0] != parts[0] || item.segments.size() > parts.size() - 1) continue;
    if (std::equal(item.segments.begin(), item.segments.end(), parts.begin() + 1)) return true;
  }
  return false;
}

}  // namespace
}  // namespace keldran

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace keldran;
  const std::string setting = fuzz::Text(data, size);
  fake::FakePlatform fake("");
  for (const Root& root : kRoots) {
    for (const char* path : kTree) fake.registry.PutKey(root.key, path);
  }
  const std::vector<std::string> before = AllKeys(fake.registry);
  Log log(fake.platform());
  const std::string tag = "Grid";
  ComponentLog events(log, tag);
  RegistryKeyDeletion deletion(fake.platform(), events);
  deletion.DeleteRegistryKeys(setting);

  const std::vector<Item> items = Items(setting);
  const std::vector<std::string> after = AllKeys(fake.registry);
  for (const std::string& key : before) {
    const bool stays = std::find(after.begin(), after.end(), key) != after.end();
    if (stays == Named(key, items)) {
      std::fprintf(stderr, "key %s %s\n", key.c_str(), stays ? "stayed" : "was deleted");
      FUZZ_CHECK(stays != Named(key, items));
    }
  }
  FUZZ_CHECK(after.size() <= before.size());

  // One error per refused item; nothing failed, so no warning.
  std::size_t refused = 0;
  for (const Item& item : items) refused += item.root.empty();
  FUZZ_CHECK(fake.eventLog.EventsWithId(120).size() == refused);
  for (const auto& e : fake.eventLog.EventsWithId(120)) FUZZ_CHECK(e.type == event_type::kError);
  FUZZ_CHECK(fake.registry.OpenHandleCount() == 0);
  return 0;
}
