#include "common/registry.h"

namespace keldran::tools {

LONG SetRegValues(HKEY key, const std::vector<RegValue>& values) {
  for (const RegValue& value : values) {
    LONG rc;
    if (value.type == REG_DWORD) {
      rc = RegSetValueExA(key, value.name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value.number), sizeof value.number);
    } else {
      rc = RegSetValueExA(key, value.name.c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(value.text.c_str()),
                          static_cast<DWORD>(value.text.size() + 1));
    }
    if (rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

LONG CreateRegKey(HKEY root, const std::string& subkey, const std::vector<RegValue>& values) {
  RegKey key;
  LONG rc = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE, nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return SetRegValues(key.get(), values);
}

LONG DeleteRegTree(HKEY root, const std::string& subkey) {
  {
    RegKey key;
    LONG rc = RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | KEY_WRITE, key.put());
    if (rc != ERROR_SUCCESS) return rc;
    // Children first: RegDeleteKeyA removes only keys without subkeys.
    char name[256];
    for (;;) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      rc = DeleteRegTree(key.get(), name);
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  return RegDeleteKeyA(root, subkey.c_str());
}

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

std::optional<DWORD> ReadRegDword(HKEY root, const std::string& subkey, const std::string& name) {
  RegKey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

}  // namespace keldran::tools
