// register_component.exe <component> [/service] [/remove]
//
// Registers KeldranGridAgent.exe (found beside this program) for one component the way the
// host's own registration will: the key HKCR\AppID\{app id}\Services\<component> with a fresh
// "ServiceID" and "LocalService" (1 with /service, else 0), and the executable's type library,
// which cross-process IService calls need for the universal marshaler. Prints the ServiceID.
// With /remove it deletes the component's key and unregisters the type library.
// Exit status: 0 on success, 1 on a failure (printed), 2 on a usage error.
#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kAppIdKey[] = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\";

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

class TypeLib {
 public:
  TypeLib() = default;
  TypeLib(const TypeLib&) = delete;
  TypeLib& operator=(const TypeLib&) = delete;
  ~TypeLib() {
    if (lib_) lib_->Release();
  }
  ITypeLib* get() const { return lib_; }
  ITypeLib** put() { return &lib_; }

 private:
  ITypeLib* lib_ = nullptr;
};

std::wstring Widen(const std::string& text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

int Fail(const char* what, long code) {
  std::fprintf(stderr, "register_component: %s failed: 0x%08lX\n", what,
               static_cast<unsigned long>(code));
  return 1;
}

std::string AgentPath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n < MAX_PATH ? n : 0);
  dir.resize(dir.rfind('\\') + 1);
  return dir + "KeldranGridAgent.exe";
}

[[nodiscard]] HRESULT LoadAgentTypeLib(TypeLib& lib) {
  return LoadTypeLibEx(Widen(AgentPath()).c_str(), REGKIND_NONE, lib.put());
}

int Register(const std::string& component, bool service) {
  GUID id;
  wchar_t idText[40];
  if (HRESULT hr = CoCreateGuid(&id); FAILED(hr)) return Fail("CoCreateGuid", hr);
  if (StringFromGUID2(id, idText, 40) == 0) return Fail("StringFromGUID2", E_FAIL);
  char serviceId[40];
  WideCharToMultiByte(CP_ACP, 0, idText, -1, serviceId, sizeof serviceId, nullptr, nullptr);

  RegKey key;
  const std::string path = kAppIdKey + component;
  LONG error = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, key.put(), nullptr);
  if (error != ERROR_SUCCESS) return Fail("RegCreateKeyEx", error);
  const DWORD local = service ? 1 : 0;
  error = RegSetValueExA(key.get(), "ServiceID", 0, REG_SZ, reinterpret_cast<BYTE*>(serviceId),
                         static_cast<DWORD>(std::strlen(serviceId) + 1));
  if (error == ERROR_SUCCESS) {
    error = RegSetValueExA(key.get(), "LocalService", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&local), sizeof local);
  }
  if (error != ERROR_SUCCESS) return Fail("RegSetValueEx", error);

  TypeLib lib;
  if (HRESULT hr = LoadAgentTypeLib(lib); FAILED(hr)) return Fail("LoadTypeLibEx", hr);
  std::wstring libPath = Widen(AgentPath());
  if (HRESULT hr = RegisterTypeLib(lib.get(), libPath.data(), nullptr); FAILED(hr))
    return Fail("RegisterTypeLib", hr);
  std::printf("%s\n", serviceId);
  return 0;
}

int Remove(const std::string& component) {
  const std::string path = kAppIdKey + component;
  const LONG error = RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return Fail("RegDeleteKey", error);
  TypeLib lib;
  if (HRESULT hr = LoadAgentTypeLib(lib); FAILED(hr)) return Fail("LoadTypeLibEx", hr);
  TLIBATTR* attr = nullptr;
  if (HRESULT hr = lib.get()->GetLibAttr(&attr); FAILED(hr)) return Fail("GetLibAttr", hr);
  const TLIBATTR copy = *attr;
  lib.get()->ReleaseTLibAttr(attr);
  // Already unregistered is fine: removal is idempotent.
  (void)UnRegisterTypeLib(copy.guid, copy.wMajorVerNum, copy.wMinorVerNum, copy.lcid, copy.syskind);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string component;
  bool service = false, remove = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (lstrcmpiA(arg.c_str(), "/service") == 0) {
      service = true;
    } else if (lstrcmpiA(arg.c_str(), "/remove") == 0) {
      remove = true;
    } else if (component.empty() && arg[0] != '/') {
      component = arg;
    } else {
      component.clear();
      break;
    }
  }
  if (component.empty()) {
    std::fprintf(stderr, "usage: register_component <component> [/service] [/remove]\n");
    return 2;
  }
  if (FAILED(CoInitialize(nullptr))) return Fail("CoInitialize", E_FAIL);
  const int result = remove ? Remove(component) : Register(component, service);
  CoUninitialize();
  return result;
}
