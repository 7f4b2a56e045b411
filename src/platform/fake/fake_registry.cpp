#include "platform/fake/fake_registry.h"

#include <cstring>

namespace keldran::fake {
namespace {

std::vector<WideString> SplitPath(const WideString& path) {
  std::vector<WideString> parts;
  for (std::size_t start = 0, end; start <= path.size(); start = end + 1) {
    end = std::min(path.find(u'\\', start), path.size());
    if (end > start) parts.push_back(path.substr(start, end - start));
  }
  return parts;
}

}  // namespace

FakeRegistry::FakeRegistry(FaultPlan& faults, FakeSystemTexts& texts)
    : FakeArea(faults, texts),
      currentUser_(std::make_shared<Node>()),
      localMachine_(std::make_shared<Node>()),
      users_(std::make_shared<Node>()) {
  bool created = false;
  classesRoot_ = Walk(localMachine_, u"Software\\Classes", &created);
  Walk(localMachine_, u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application", &created);
  Walk(currentUser_, u"Software", &created);
}

FakeRegistry::~FakeRegistry() = default;

std::shared_ptr<FakeRegistry::Node> FakeRegistry::Resolve(RegKey key) const {
  if (key == reg_root::kClassesRoot) return classesRoot_;
  if (key == reg_root::kCurrentUser) return currentUser_;
  if (key == reg_root::kLocalMachine) return localMachine_;
  if (key == reg_root::kUsers) return users_;
  auto it = handles_.find(key.value);
  return it == handles_.end() ? nullptr : it->second;
}

Win32Error FakeRegistry::Unusable(const std::shared_ptr<Node>& node) const {
  return !node ? win32_error::kInvalidHandle : node->deleted ? win32_error::kKeyDeleted : 0;
}

std::shared_ptr<FakeRegistry::Node> FakeRegistry::Walk(std::shared_ptr<Node> from,
                                                       const WideString& path,
                                                       bool* created) const {
  if (created) *created = false;
  for (const auto& part : SplitPath(path)) {
    auto it = from->children.find(FoldCase(part));
    if (it == from->children.end()) {
      if (!created) return nullptr;
      *created = true;
      it = from->children.emplace(FoldCase(part), std::make_shared<Node>()).first;
      it->second->name = part;
    }
    from = it->second;
  }
  return from;
}

std::shared_ptr<FakeRegistry::Node> FakeRegistry::At(RegKey root, const std::string& path,
                                                     bool create) const {
  bool created = false;
  auto base = Resolve(root);
  return base ? Walk(base, texts_.AnsiToWide(path), create ? &created : nullptr) : nullptr;
}

Win32Error FakeRegistry::OpenKey(RegKey parent, const std::string& path, std::uint32_t access,
                                 RegKey* key) {
  return OpenKeyW(parent, texts_.AnsiToWide(path), access, key);
}

Win32Error FakeRegistry::OpenKeyW(RegKey parent, const WideString& path, std::uint32_t,
                                  RegKey* key) {
  std::lock_guard lock(mutex_);
  *key = RegKey{};
  if (auto e = Injected("RegOpenKeyEx")) return *e;
  if (auto e = Injected("RegOpenKeyEx " + texts_.WideToAnsi(path))) return *e;
  auto base = Resolve(parent);
  if (auto e = Unusable(base)) return Fail(e);
  if (path.starts_with(u'\\')) return Fail(win32_error::kBadPathname);
  auto node = Walk(base, path);
  if (!node) return Fail(win32_error::kFileNotFound);
  *key = RegKey{NewHandle()};
  handles_[key->value] = node;
  return 0;
}

Win32Error FakeRegistry::CreateKey(RegKey parent, const std::string& path, std::uint32_t,
                                   RegKey* key, bool* created) {
  std::lock_guard lock(mutex_);
  *key = RegKey{};
  if (auto e = Injected("RegCreateKeyEx")) return *e;
  if (auto e = Injected("RegCreateKeyEx " + path)) return *e;
  auto base = Resolve(parent);
  if (auto e = Unusable(base)) return Fail(e);
  if (path.starts_with('\\')) return Fail(win32_error::kBadPathname);
  bool made = false;
  auto node = Walk(base, texts_.AnsiToWide(path), &made);
  if (created) *created = made;
  *key = RegKey{NewHandle()};
  handles_[key->value] = node;
  return 0;
}

void FakeRegistry::CloseKey(RegKey key) {
  std::lock_guard lock(mutex_);
  handles_.erase(key.value);
}

Win32Error FakeRegistry::SetValue(RegKey key, const std::string& name, RegType type,
                                  const void* data, std::uint32_t size) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("RegSetValueEx")) return *e;
  if (auto e = Injected("RegSetValueEx " + name)) return *e;
  auto node = Resolve(key);
  if (auto e = Unusable(node)) return Fail(e);
  auto bytes = static_cast<const std::uint8_t*>(data);
  node->values[FoldCase(name)] = Stored{type, std::vector<std::uint8_t>(bytes, bytes + size)};
  return 0;
}

Win32Error FakeRegistry::QueryValue(RegKey key, const std::string& name, RegType* type,
                                    std::vector<std::uint8_t>* data) {
  std::lock_guard lock(mutex_);
  auto node = Resolve(key);
  if (auto e = Unusable(node)) return Fail(e);
  auto it = node->values.find(FoldCase(name));
  if (it == node->values.end()) return Fail(win32_error::kFileNotFound);
  if (type) *type = it->second.type;
  if (data) *data = it->second.data;
  return 0;
}

Win32Error FakeRegistry::DeleteValue(RegKey key, const std::string& name) {
  std::lock_guard lock(mutex_);
  auto node = Resolve(key);
  if (auto e = Unusable(node)) return Fail(e);
  if (node->values.erase(FoldCase(name)) == 0) return Fail(win32_error::kFileNotFound);
  return 0;
}

Win32Error FakeRegistry::EnumKey(RegKey key, std::uint32_t index, std::string* name) {
  WideString found;
  const Win32Error e = EnumKeyW(key, index, &found);
  if (e == 0) *name = texts_.WideToAnsi(found);
  return e;
}

Win32Error FakeRegistry::EnumKeyW(RegKey key, std::uint32_t index, WideString* name) {
  std::lock_guard lock(mutex_);
  auto node = Resolve(key);
  if (auto e = Unusable(node)) return Fail(e);
  if (index >= node->children.size()) return Fail(win32_error::kNoMoreItems);
  *name = std::next(node->children.begin(), index)->second->name;
  return 0;
}

Win32Error FakeRegistry::DeleteKey(RegKey parent, const std::string& path) {
  return DeleteKeyW(parent, texts_.AnsiToWide(path));
}

Win32Error FakeRegistry::DeleteKeyW(RegKey parent, const WideString& path) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("RegDeleteKey")) return *e;
  auto base = Resolve(parent);
  if (auto e = Unusable(base)) return Fail(e);
  if (path.starts_with(u'\\')) return Fail(win32_error::kBadPathname);
  // The last name in the path, and the key it is in (npos + 1: the path holds no other name).
  const auto end = path.find_last_not_of(u'\\');
  if (end == WideString::npos) return Fail(win32_error::kAccessDenied);
  const auto start = path.find_last_of(u'\\', end) + 1;
  auto container = Walk(base, path.substr(0, start));
  auto it = container ? container->children.find(FoldCase(path.substr(start, end + 1 - start)))
                      : base->children.end();
  if (!container || it == container->children.end()) return Fail(win32_error::kFileNotFound);
  // A key that still has subkeys cannot be deleted.
  if (!it->second->children.empty()) return Fail(win32_error::kAccessDenied);
  it->second->deleted = true;
  container->children.erase(it);
  return 0;
}

bool FakeRegistry::KeyExists(RegKey root, const std::string& path) const {
  std::lock_guard lock(mutex_);
  return At(root, path) != nullptr;
}

void FakeRegistry::PutKey(RegKey root, const WideString& path) {
  std::lock_guard lock(mutex_);
  bool created = false;
  Walk(Resolve(root), path, &created);
}

void FakeRegistry::PutString(RegKey root, const std::string& path, const std::string& name,
                             const std::string& value, RegType type) {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  At(root, path, true)->values[FoldCase(name)] = Stored{type, data};
}

void FakeRegistry::PutDword(RegKey root, const std::string& path, const std::string& name,
                            std::uint32_t value) {
  std::lock_guard lock(mutex_);
  std::vector<std::uint8_t> data(4);
  std::memcpy(data.data(), &value, 4);
  At(root, path, true)->values[FoldCase(name)] = Stored{RegType::kDword, data};
}

std::optional<std::uint32_t> FakeRegistry::DwordValue(RegKey root, const std::string& path,
                                                      const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto node = At(root, path);
  if (!node) return std::nullopt;
  auto it = node->values.find(FoldCase(name));
  if (it == node->values.end() || it->second.type != RegType::kDword || it->second.data.size() != 4)
    return std::nullopt;
  std::uint32_t value;
  std::memcpy(&value, it->second.data.data(), 4);
  return value;
}

std::vector<std::string> FakeRegistry::SubkeyNames(RegKey root, const std::string& path) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  if (auto node = At(root, path)) {
    for (const auto& [_, child] : node->children) names.push_back(texts_.WideToAnsi(child->name));
  }
  return names;
}

}  // namespace keldran::fake
