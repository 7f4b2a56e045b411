#include "common/registry.h"

namespace keldran::tools {

bool RegKeyExists(HKEY root, const std::string& subkey) {
  RegKey key;
  return RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<std::string> ReadRegString(HKEY root, const std::string& subkey,
                                         const std::string& name) {
  RegKey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  std::string text(size + 1, '\0');
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace keldran::tools
