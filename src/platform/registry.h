#pragma once
// Registry access (RegOpenKeyEx, RegCreateKeyEx, RegSetValueEx, RegQueryValueEx, RegEnumKeyEx,
// RegDeleteKey, RegDeleteValue, RegCloseKey; the walk of a tree also in their wide forms).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scoped.h"
#include "platform/types.h"

namespace keldran {

struct RegKeyTag;
using RegKey = Handle<RegKeyTag>;

// The predefined root keys carry their Windows values so the Win32 backend passes them through.
namespace reg_root {
constexpr RegKey kClassesRoot{0x80000000u};
constexpr RegKey kCurrentUser{0x80000001u};
constexpr RegKey kLocalMachine{0x80000002u};
constexpr RegKey kUsers{0x80000003u};
}  // namespace reg_root

inline bool IsRootKey(RegKey key) { return key.value >= 0x80000000u && key.value <= 0x80000003u; }

enum class RegType : std::uint32_t {
  kNone = 0,
  kSz = 1,
  kExpandSz = 2,
  kBinary = 3,
  kDword = 4,
  kMultiSz = 7,
  kQword = 11,
};

namespace reg_access {
constexpr std::uint32_t kQueryValue = 0x0001;
constexpr std::uint32_t kSetValue = 0x0002;
constexpr std::uint32_t kCreateSubKey = 0x0004;
constexpr std::uint32_t kEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kNotify = 0x0010;
constexpr std::uint32_t kReadControl = 0x00020000;
constexpr std::uint32_t kRead = 0x00020019;
constexpr std::uint32_t kWrite = 0x00020006;
constexpr std::uint32_t kAllAccess = 0x000F003F;
// The registry view of a 64-bit (or 32-bit) program, whichever process opens the key.
constexpr std::uint32_t kView64 = 0x0100;
constexpr std::uint32_t kView32 = 0x0200;
}  // namespace reg_access

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  [[nodiscard]] virtual Win32Error OpenKey(RegKey parent, const std::string& path,
                                           std::uint32_t access, RegKey* key) = 0;
  // Opens the key, creating it and any missing parents; *created tells which happened.
  [[nodiscard]] virtual Win32Error CreateKey(RegKey parent, const std::string& path,
                                             std::uint32_t access, RegKey* key,
                                             bool* created = nullptr) = 0;
  virtual void CloseKey(RegKey key) = 0;

  [[nodiscard]] virtual Win32Error SetValue(RegKey key, const std::string& name, RegType type,
                                            const void* data, std::uint32_t size) = 0;
  // The whole value as stored (string values include their terminating NUL when the writer
  // stored one).
  [[nodiscard]] virtual Win32Error QueryValue(RegKey key, const std::string& name, RegType* type,
                                              std::vector<std::uint8_t>* data) = 0;
  [[nodiscard]] virtual Win32Error DeleteValue(RegKey key, const std::string& name) = 0;

  // Name of the subkey at index (259 characters at most); kNoMoreItems past the end.
  [[nodiscard]] virtual Win32Error EnumKey(RegKey key, std::uint32_t index, std::string* name) = 0;
  // Deletes a key that has no subkeys; a key with subkeys fails (access denied on Windows).
  [[nodiscard]] virtual Win32Error DeleteKey(RegKey parent, const std::string& path) = 0;

  // The wide forms of the three calls that walk a tree (RegOpenKeyExW, RegEnumKeyExW,
  // RegDeleteKeyW): the ANSI calls spell a name that the code page lacks with '?', and that
  // name then finds nothing.
  [[nodiscard]] virtual Win32Error OpenKeyW(RegKey parent, const WideString& path,
                                            std::uint32_t access, RegKey* key) = 0;
  [[nodiscard]] virtual Win32Error EnumKeyW(RegKey key, std::uint32_t index, WideString* name) = 0;
  [[nodiscard]] virtual Win32Error DeleteKeyW(RegKey parent, const WideString& path) = 0;
};

using ScopedRegKey = Scoped<IRegistry, RegKey, &IRegistry::CloseKey>;

// Helpers over the interface for the common value shapes.
[[nodiscard]] Win32Error SetStringValue(IRegistry& reg, RegKey key, const std::string& name,
                                        const std::string& value, RegType type = RegType::kSz);
[[nodiscard]] Win32Error SetDwordValue(IRegistry& reg, RegKey key, const std::string& name,
                                       std::uint32_t value);
[[nodiscard]] Win32Error QueryDwordValue(IRegistry& reg, RegKey key, const std::string& name,
                                         std::uint32_t* value);

}  // namespace keldran
