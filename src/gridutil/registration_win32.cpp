// Self-registration of KeldranGridUtil.Client: the class with its in-process server (apartment
// threaded), the ProgID and the type library. Unregistration removes exactly these, and what is
// missing counts as removed, so that an uninstall after a failed install still succeeds.
#include "gridutil/module_win32.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "keldran_gridutil.h"
#include "platform/win32/unique_handle.h"

namespace keldran::gridutil {
namespace {

using win32::ComPtr;
using win32::UniqueRegKey;

constexpr char kProgId[] = "KeldranGridUtil.Client";
constexpr char kDescription[] = "Keldran Grid Agent Client Helper";
constexpr WORD kLibMajor = 1;
constexpr WORD kLibMinor = 0;
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::string GuidText(const GUID& guid) {
  wchar_t wide[40];
  if (StringFromGUID2(guid, wide, 40) == 0) return {};
  // A GUID's text is plain ASCII.
  return std::string(wide, wide + wcslen(wide));
}

std::string ClassKey() { return "CLSID\\" + GuidText(CLSID_Client); }

struct Entry {
  std::string key;
  const char* name;  // null: the key's default value
  std::string value;
};

LONG Write(const Entry& entry) {
  UniqueRegKey key;
  LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, key.put(), nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(key.get(), entry.name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(entry.value.c_str()),
                        static_cast<DWORD>(entry.value.size() + 1));
  }
  return rc;
}

LONG DeleteTree(const std::string& key) {
  const LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

bool KeyExists(const std::string& name) {
  UniqueRegKey key;
  return RegOpenKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

HRESULT Register() {
  const std::string path = ModulePath();
  const std::wstring widePath = ModulePathWide();
  if (path.empty() || widePath.empty()) return HRESULT_FROM_WIN32(GetLastError());
  const std::string classKey = ClassKey();
  const std::string clsid = GuidText(CLSID_Client);
  const std::vector<Entry> entries = {
      {classKey, nullptr, kDescription},
      {classKey + "\\InprocServer32", nullptr, path},
      {classKey + "\\InprocServer32", "ThreadingModel", "Apartment"},
      {classKey + "\\ProgID", nullptr, kProgId},
      {classKey + "\\TypeLib", nullptr, GuidText(LIBID_KeldranGridUtil)},
      {kProgId, nullptr, kDescription},
      {std::string(kProgId) + "\\CLSID", nullptr, clsid},
  };
  for (const Entry& entry : entries) {
    if (const LONG rc = Write(entry); rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  }
  ComPtr<ITypeLib> library;
  HRESULT hr = LoadTypeLibEx(widePath.c_str(), REGKIND_NONE, library.put());
  if (SUCCEEDED(hr)) {
    std::wstring mutablePath = widePath;  // RegisterTypeLib takes a non-const path
    hr = RegisterTypeLib(library.get(), mutablePath.data(), nullptr);
  }
  return hr;
}

HRESULT Unregister() {
  LONG rc = DeleteTree(ClassKey());
  if (const LONG progRc = DeleteTree(kProgId); rc == ERROR_SUCCESS) rc = progRc;
  HRESULT hr = HRESULT_FROM_WIN32(rc);
  // UnRegisterTypeLib fails for a library that is not registered: ask it only when it is.
  char version[16];
  std::snprintf(version, sizeof version, "\\%u.%u", kLibMajor, kLibMinor);
  if (KeyExists("TypeLib\\" + GuidText(LIBID_KeldranGridUtil) + version)) {
    const HRESULT libHr =
        UnRegisterTypeLib(LIBID_KeldranGridUtil, kLibMajor, kLibMinor, LANG_NEUTRAL, kSysKind);
    if (SUCCEEDED(hr)) hr = libHr;
  }
  return hr;
}

}  // namespace

HRESULT RegisterServer() noexcept {
  try {
    const HRESULT hr = Register();
    // Half a registration would point COM at a class it cannot create: take it back.
    if (FAILED(hr)) (void)Unregister();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterServer() noexcept {
  try {
    return Unregister();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace keldran::gridutil
