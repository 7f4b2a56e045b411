#pragma once
// Registry keys for helper programs and tests: an owned key, values set in one go, whole trees
// created, read and deleted.

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

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

struct RegValue {
  std::string name;  // empty: the key's default value
  DWORD type;        // REG_SZ or REG_DWORD
  std::string text;
  DWORD number = 0;
  static RegValue String(std::string name, std::string text) {
    return {std::move(name), REG_SZ, std::move(text), 0};
  }
  static RegValue Dword(std::string name, DWORD number) {
    return {std::move(name), REG_DWORD, {}, number};
  }
};

// Sets the values on an open key, in order; the first failure's Win32 error, 0 on success.
[[nodiscard]] LONG SetRegValues(HKEY key, const std::vector<RegValue>& values);
// Creates the key (and its parents) and sets the values; the Win32 error, 0 on success.
[[nodiscard]] LONG CreateRegKey(HKEY root, const std::string& subkey,
                                const std::vector<RegValue>& values = {});
// Deletes the key with everything below it; ERROR_FILE_NOT_FOUND when it does not exist.
[[nodiscard]] LONG DeleteRegTree(HKEY root, const std::string& subkey);
bool RegKeyExists(HKEY root, const std::string& subkey);
std::optional<std::string> ReadRegString(HKEY root, const std::string& subkey,
                                         const std::string& name);
std::optional<DWORD> ReadRegDword(HKEY root, const std::string& subkey, const std::string& name);

}  // namespace keldran::tools
