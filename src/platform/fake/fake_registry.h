#pragma once
// An in-memory registry with Windows' rules (registry_contract_test); HKCR is HKLM\Software\Classes
// and key names are Unicode. A fault may also name one key or value: "RegOpenKeyEx <path>",
// "RegCreateKeyEx <path>" (as the call gives it) and "RegSetValueEx <value name>".

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake_support.h"
#include "platform/registry.h"

namespace keldran::fake {

class FakeRegistry final : public IRegistry, private FakeArea {
 public:
  FakeRegistry(FaultPlan& faults, FakeSystemTexts& texts);
  ~FakeRegistry() override;

  Win32Error OpenKey(RegKey parent, const std::string& path, std::uint32_t access,
                     RegKey* key) override;
  Win32Error CreateKey(RegKey parent, const std::string& path, std::uint32_t access, RegKey* key,
                       bool* created) override;
  void CloseKey(RegKey key) override;
  Win32Error SetValue(RegKey key, const std::string& name, RegType type, const void* data,
                      std::uint32_t size) override;
  Win32Error QueryValue(RegKey key, const std::string& name, RegType* type,
                        std::vector<std::uint8_t>* data) override;
  Win32Error DeleteValue(RegKey key, const std::string& name) override;
  Win32Error EnumKey(RegKey key, std::uint32_t index, std::string* name) override;
  Win32Error DeleteKey(RegKey parent, const std::string& path) override;
  Win32Error OpenKeyW(RegKey parent, const WideString& path, std::uint32_t access,
                      RegKey* key) override;
  Win32Error EnumKeyW(RegKey key, std::uint32_t index, WideString* name) override;
  Win32Error DeleteKeyW(RegKey parent, const WideString& path) override;

  // Test helpers, addressing keys by root and path.
  bool KeyExists(RegKey root, const std::string& path) const;
  void PutString(RegKey root, const std::string& path, const std::string& name,
                 const std::string& value, RegType type = RegType::kSz);
  void PutDword(RegKey root, const std::string& path, const std::string& name, std::uint32_t value);
  void PutKey(RegKey root, const std::string& path) { PutKey(root, texts_.AnsiToWide(path)); }
  void PutKey(RegKey root, const WideString& path);
  std::optional<std::uint32_t> DwordValue(RegKey root, const std::string& path,
                                          const std::string& name) const;
  std::vector<std::string> SubkeyNames(RegKey root, const std::string& path) const;
  std::size_t OpenHandleCount() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
  }

 private:
  struct Stored {
    RegType type;
    std::vector<std::uint8_t> data;
  };
  struct Node {
    WideString name;
    bool deleted = false;
    std::map<WideString, std::shared_ptr<Node>> children;  // by folded name: enumerated in order
    std::map<std::string, Stored> values;                  // by folded name
  };
  std::shared_ptr<Node> Resolve(RegKey key) const;
  // A handle that is none, or a key deleted since.
  Win32Error Unusable(const std::shared_ptr<Node>& node) const;
  // The key at the path below `from`, or null; with `created`, missing keys are made on the way.
  std::shared_ptr<Node> Walk(std::shared_ptr<Node> from, const WideString& path,
                             bool* created = nullptr) const;
  std::shared_ptr<Node> At(RegKey root, const std::string& path, bool create = false) const;

  mutable std::recursive_mutex mutex_;
  std::shared_ptr<Node> classesRoot_, currentUser_, localMachine_, users_;
  std::map<std::uintptr_t, std::shared_ptr<Node>> handles_;
};

}  // namespace keldran::fake
