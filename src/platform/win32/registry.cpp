// IRegistry over the ANSI registry calls, and the wide ones that walk a tree.
#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

// The predefined roots are sign-extended 32-bit values in a 64-bit HKEY; the seam keeps the
// 32-bit value, so widen it the same way on the way in.
HKEY ToHkey(RegKey key) {
  if (IsRootKey(key)) {
    return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(key.value)));
  }
  return FromSeam<HKEY>(key);
}

class Registry final : public IRegistry {
 public:
  Win32Error OpenKey(RegKey parent, const std::string& path, std::uint32_t access,
                     RegKey* key) override {
    HKEY opened = nullptr;
    LONG e = ::RegOpenKeyExA(ToHkey(parent), path.c_str(), 0, access, &opened);
    if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
    *key = ToSeam<RegKey>(opened);
    return 0;
  }

  Win32Error CreateKey(RegKey parent, const std::string& path, std::uint32_t access, RegKey* key,
                       bool* created) override {
    HKEY opened = nullptr;
    DWORD disposition = 0;
    LONG e = ::RegCreateKeyExA(ToHkey(parent), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               access, nullptr, &opened, &disposition);
    if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
    *key = ToSeam<RegKey>(opened);
    if (created) *created = disposition == REG_CREATED_NEW_KEY;
    return 0;
  }

  void CloseKey(RegKey key) override {
    if (key && !IsRootKey(key)) UniqueRegKey(ToHkey(key)).reset();
  }

  Win32Error SetValue(RegKey key, const std::string& name, RegType type, const void* data,
                      std::uint32_t size) override {
    return static_cast<Win32Error>(::RegSetValueExA(ToHkey(key), name.c_str(), 0,
                                                    static_cast<DWORD>(type),
                                                    static_cast<const BYTE*>(data), size));
  }

  Win32Error QueryValue(RegKey key, const std::string& name, RegType* type,
                        std::vector<std::uint8_t>* data) override {
    // The value may grow between asking for its size and reading it: ask again then.
    for (;;) {
      DWORD valueType = 0;
      DWORD size = 0;
      LONG e = ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &valueType, nullptr, &size);
      if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
      data->assign(size, 0);
      e = ::RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &valueType, data->data(), &size);
      if (e == ERROR_MORE_DATA) continue;
      if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
      data->resize(size);
      *type = static_cast<RegType>(valueType);
      return 0;
    }
  }

  Win32Error DeleteValue(RegKey key, const std::string& name) override {
    return static_cast<Win32Error>(::RegDeleteValueA(ToHkey(key), name.c_str()));
  }

  Win32Error EnumKey(RegKey key, std::uint32_t index, std::string* name) override {
    char buffer[MAX_PATH];
    DWORD length = sizeof buffer;
    LONG e =
        ::RegEnumKeyExA(ToHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
    name->assign(buffer, length);
    return 0;
  }

  Win32Error DeleteKey(RegKey parent, const std::string& path) override {
    return static_cast<Win32Error>(::RegDeleteKeyA(ToHkey(parent), path.c_str()));
  }

  Win32Error OpenKeyW(RegKey parent, const WideString& path, std::uint32_t access,
                      RegKey* key) override {
    HKEY opened = nullptr;
    LONG e = ::RegOpenKeyExW(ToHkey(parent), Wide(path), 0, access, &opened);
    if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
    *key = ToSeam<RegKey>(opened);
    return 0;
  }

  Win32Error EnumKeyW(RegKey key, std::uint32_t index, WideString* name) override {
    wchar_t buffer[MAX_PATH];
    DWORD length = MAX_PATH;
    LONG e =
        ::RegEnumKeyExW(ToHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (e != ERROR_SUCCESS) return static_cast<Win32Error>(e);
    name->assign(reinterpret_cast<const char16_t*>(buffer), length);
    return 0;
  }

  Win32Error DeleteKeyW(RegKey parent, const WideString& path) override {
    return static_cast<Win32Error>(::RegDeleteKeyW(ToHkey(parent), Wide(path)));
  }

 private:
  // wchar_t is UTF-16 with mingw-w64, as on Windows.
  static const wchar_t* Wide(const WideString& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
  }
};

}  // namespace

std::unique_ptr<IRegistry> MakeRegistry() { return std::make_unique<Registry>(); }

}  // namespace keldran::win32
