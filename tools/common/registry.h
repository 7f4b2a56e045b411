#pragma once
// Registry keys for helper programs and tests: an owned key, and values read.

#include <windows.h>

#include <optional>
#include <string>

namespace keldran::tools {

class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY* put() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

bool RegKeyExists(HKEY root, const std::string& subkey);
std::optional<std::string> ReadRegString(HKEY root, const std::string& subkey,
                                         const std::string& name);

}  // namespace keldran::tools
