#include "platform/fake/fake_registry.h"

#include <cstring>

namespace keldran::fake {

struct FakeRegistry::Node {
  std::string name;
  bool deleted = false;
  std::map<std::string, std::shared_ptr<Node>> children;  // by folded name, so enumeration is
                                                          // in name order
  struct Value {
    std::string name;
    RegType type;
    std::vector<std::uint8_t> data;
  };
  std::map<std::string, Value> values;
};

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string Utf8(const WideString& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

WideString Utf16(const std::string& text) {
  WideString out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace

FakeRegistry::FakeRegistry(FaultPlan& faults, FakeSystemTexts& texts)
    : FakeArea(faults, texts),
      currentUser_(std::make_shared<Node>()),
      localMachine_(std::make_shared<Node>()),
      users_(std::make_shared<Node>()) {
  bool created = false;
  classesRoot_ = FindOrCreate(localMachine_, "Software\\Classes", &created);
  FindOrCreate(localMachine_, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
               &created);
  FindOrCreate(currentUser_, "Software", &created);
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

std::shared_ptr<FakeRegistry::Node> FakeRegistry::Find(std::shared_ptr<Node> from,
                                                       const std::string& path) const {
  for (const auto& part : SplitPath(path)) {
    auto it = from->children.find(FoldCase(part));
    if (it == from->children.end()) return nullptr;
    from = it->second;
  }
  return from;
}

std::shared_ptr<FakeRegistry::Node> FakeRegistry::FindOrCreate(std::shared_ptr<Node> from,
                                                               const std::string& path,
                                                               bool* created) {
  *created = false;
  for (const auto& part : SplitPath(path)) {
    auto& child = from->children[FoldCase(part)];
    if (!child) {
      child = std::make_shared<Node>();
      child->name = part;
      *created = true;
    }
    from = child;
  }
  return from;
}

RegKey FakeRegistry::NewHandle(std::shared_ptr<Node> node) {
  RegKey key{nextHandle_};
  nextHandle_ += 4;
  handles_[key.value] = std::move(node);
  return key;
}

std::string FakeRegistry::FromAnsi(const std::string& text) const {
  return Utf8(texts_.AnsiToWide(text));
}

std::string FakeRegistry::ToAnsi(const std::string& name) const {
  return texts_.WideToAnsi(Utf16(name));
}

Win32Error FakeRegistry::OpenKey(RegKey parent, const std::string& path, std::uint32_t,
                                 RegKey* key) {
  return OpenKeyAt(parent, FromAnsi(path), key);
}

Win32Error FakeRegistry::OpenKeyW(RegKey parent, const WideString& path, std::uint32_t,
                                  RegKey* key) {
  return OpenKeyAt(parent, Utf8(path), key);
}

Win32Error FakeRegistry::OpenKeyAt(RegKey parent, const std::string& path, RegKey* key) {
  std::lock_guard lock(mutex_);
  *key = RegKey{};
  if (auto e = Injected("RegOpenKeyEx")) return *e;
  if (auto e = Injected("RegOpenKeyEx " + path)) return *e;
  auto base = Resolve(parent);
  if (!base) return Fail(win32_error::kInvalidHandle);
  if (base->deleted) return Fail(win32_error::kKeyDeleted);
  if (path.starts_with('\\')) return Fail(win32_error::kBadPathname);
  auto node = Find(base, path);
  if (!node) return Fail(win32_error::kFileNotFound);
  *key = NewHandle(node);
  return 0;
}

Win32Error FakeRegistry::CreateKey(RegKey parent, const std::string& path, std::uint32_t,
                                   RegKey* key, bool* created) {
  std::lock_guard lock(mutex_);
  *key = RegKey{};
  if (auto e = Injected("RegCreateKeyEx")) return *e;
  if (auto e = Injected("RegCreateKeyEx " + path)) return *e;
  auto base = Resolve(parent);
  if (!base) return Fail(win32_error::kInvalidHandle);
  if (base->deleted) return Fail(win32_error::kKeyDeleted);
  if (path.starts_with('\\')) return Fail(win32_error::kBadPathname);
  bool made = false;
  auto node = FindOrCreate(base, FromAnsi(path), &made);
  if (created) *created = made;
  *key = NewHandle(node);
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
  if (!node) return Fail(win32_error::kInvalidHandle);
  if (node->deleted) return Fail(win32_error::kKeyDeleted);
  auto bytes = static_cast<const std::uint8_t*>(data);
  node->values[FoldCase(name)] =
      Node::Value{name, type, std::vector<std::uint8_t>(bytes, bytes + size)};
  return 0;
}

Win32Error FakeRegistry::QueryValue(RegKey key, const std::string& name, RegType* type,
                                    std::vector<std::uint8_t>* data) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("RegQueryValueEx")) return *e;
  auto node = Resolve(key);
  if (!node) return Fail(win32_error::kInvalidHandle);
  if (node->deleted) return Fail(win32_error::kKeyDeleted);
  auto it = node->values.find(FoldCase(name));
  if (it == node->values.end()) return Fail(win32_error::kFileNotFound);
  if (type) *type = it->second.type;
  if (data) *data = it->second.data;
  return 0;
}

Win32Error FakeRegistry::DeleteValue(RegKey key, const std::string& name) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("RegDeleteValue")) return *e;
  auto node = Resolve(key);
  if (!node) return Fail(win32_error::kInvalidHandle);
  if (node->deleted) return Fail(win32_error::kKeyDeleted);
  if (node->values.erase(FoldCase(name)) == 0) return Fail(win32_error::kFileNotFound);
  return 0;
}

Win32Error FakeRegistry::EnumKey(RegKey key, std::uint32_t index, std::string* name) {
  std::string found;
  const Win32Error e = EnumKeyAt(key, index, &found);
  if (e == 0) *name = ToAnsi(found);
  return e;
}

Win32Error FakeRegistry::EnumKeyW(RegKey key, std::uint32_t index, WideString* name) {
  std::string found;
  const Win32Error e = EnumKeyAt(key, index, &found);
  if (e == 0) *name = Utf16(found);
  return e;
}

Win32Error FakeRegistry::EnumKeyAt(RegKey key, std::uint32_t index, std::string* name) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("RegEnumKeyEx")) return *e;
  auto node = Resolve(key);
  if (!node) return Fail(win32_error::kInvalidHandle);
  if (node->deleted) return Fail(win32_error::kKeyDeleted);
  if (index >= node->children.size()) return Fail(win32_error::kNoMoreItems);
  auto it = node->children.begin();
  std::advance(it, index);
  *name = it->second->name;
  return 0;
}

void FakeRegistry::MarkDeleted(Node& node) {
  node.deleted = true;
  for (auto& [_, child] : node.children) MarkDeleted(*child);
}

Win32Error FakeRegistry::DeleteKey(RegKey parent, const std::string& path) {
  return DeleteKeyAt(parent, FromAnsi(path));
}

Win32Error FakeRegistry::DeleteKeyW(RegKey parent, const WideString& path) {
  return DeleteKeyAt(parent, Utf8(path));
}

Win32Error FakeRegistry::DeleteKeyAt(RegKey parent, const std::string& path) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("RegDeleteKey")) return *e;
  auto base = Resolve(parent);
  if (!base) return Fail(win32_error::kInvalidHandle);
  if (base->deleted) return Fail(win32_error::kKeyDeleted);
  if (path.starts_with('\\')) return Fail(win32_error::kBadPathname);
  auto parts = SplitPath(path);
  if (parts.empty()) return Fail(win32_error::kAccessDenied);
  std::string leaf = parts.back();
  parts.pop_back();
  auto container = base;
  for (const auto& part : parts) {
    auto it = container->children.find(FoldCase(part));
    if (it == container->children.end()) return Fail(win32_error::kFileNotFound);
    container = it->second;
  }
  auto it = container->children.find(FoldCase(leaf));
  if (it == container->children.end()) return Fail(win32_error::kFileNotFound);
  // A key that still has subkeys cannot be deleted.
  if (!it->second->children.empty()) return Fail(win32_error::kAccessDenied);
  MarkDeleted(*it->second);
  container->children.erase(it);
  return 0;
}

bool FakeRegistry::KeyExists(RegKey root, const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto base = Resolve(root);
  return base && Find(base, FromAnsi(path)) != nullptr;
}

void FakeRegistry::PutKey(RegKey root, const std::string& path) {
  std::lock_guard lock(mutex_);
  bool created = false;
  FindOrCreate(Resolve(root), FromAnsi(path), &created);
}

void FakeRegistry::PutKey(RegKey root, const WideString& path) {
  std::lock_guard lock(mutex_);
  bool created = false;
  FindOrCreate(Resolve(root), Utf8(path), &created);
}

void FakeRegistry::PutString(RegKey root, const std::string& path, const std::string& name,
                             const std::string& value, RegType type) {
  std::lock_guard lock(mutex_);
  bool created = false;
  auto node = FindOrCreate(Resolve(root), FromAnsi(path), &created);
  std::vector<std::uint8_t> data(value.begin(), value.end());
  data.push_back(0);
  node->values[FoldCase(name)] = Node::Value{name, type, data};
}

void FakeRegistry::PutDword(RegKey root, const std::string& path, const std::string& name,
                            std::uint32_t value) {
  std::lock_guard lock(mutex_);
  bool created = false;
  auto node = FindOrCreate(Resolve(root), FromAnsi(path), &created);
  std::vector<std::uint8_t> data(4);
  std::memcpy(data.data(), &value, 4);
  node->values[FoldCase(name)] = Node::Value{name, RegType::kDword, data};
}

std::optional<FakeRegistry::Stored> FakeRegistry::StoredValue(RegKey root, const std::string& path,
                                                              const std::string& name) const {
  auto base = Resolve(root);
  auto node = base ? Find(base, FromAnsi(path)) : nullptr;
  if (!node) return std::nullopt;
  auto it = node->values.find(FoldCase(name));
  if (it == node->values.end()) return std::nullopt;
  return Stored{it->second.type, it->second.data};
}

std::optional<std::string> FakeRegistry::StringValue(RegKey root, const std::string& path,
                                                     const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto value = StoredValue(root, path, name);
  if (!value) return std::nullopt;
  std::string text(value->data.begin(), value->data.end());
  if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

std::optional<std::uint32_t> FakeRegistry::DwordValue(RegKey root, const std::string& path,
                                                      const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto stored = StoredValue(root, path, name);
  if (!stored || stored->type != RegType::kDword || stored->data.size() != 4) return std::nullopt;
  std::uint32_t value;
  std::memcpy(&value, stored->data.data(), 4);
  return value;
}

std::vector<std::string> FakeRegistry::SubkeyNames(RegKey root, const std::string& path) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  auto base = Resolve(root);
  auto node = base ? Find(base, FromAnsi(path)) : nullptr;
  if (node) {
    for (const auto& [_, child] : node->children) names.push_back(ToAnsi(child->name));
  }
  return names;
}

std::size_t FakeRegistry::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

}  // namespace keldran::fake
