#include "platform/registry.h"

namespace keldran {

Win32Error SetStringValue(IRegistry& reg, RegKey key, const std::string& name,
                          const std::string& value, RegType type) {
  // Stored with its terminating NUL, as RegSetValueExA callers conventionally do.
  return reg.SetValue(key, name, type, value.c_str(), static_cast<std::uint32_t>(value.size() + 1));
}

Win32Error SetDwordValue(IRegistry& reg, RegKey key, const std::string& name, std::uint32_t value) {
  return reg.SetValue(key, name, RegType::kDword, &value, sizeof value);
}

Win32Error QueryDwordValue(IRegistry& reg, RegKey key, const std::string& name,
                           std::uint32_t* value) {
  RegType type = RegType::kNone;
  std::vector<std::uint8_t> data;
  if (Win32Error e = reg.QueryValue(key, name, &type, &data); e != 0) return e;
  if (type != RegType::kDword || data.size() != sizeof(std::uint32_t))
    return win32_error::kInvalidParameter;
  *value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  return 0;
}

}  // namespace keldran
