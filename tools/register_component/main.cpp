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
#include <string>

#include "common/com.h"
#include "common/files.h"
#include "common/registry.h"

namespace {

using namespace keldran::tools;

constexpr char kAppIdKey[] = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\";

int Fail(const char* what, long code) {
  std::fprintf(stderr, "register_component: %s failed: 0x%08lX\n", what,
               static_cast<unsigned long>(code));
  return 1;
}

std::string AgentPath() { return ProgramPath("KeldranGridAgent.exe"); }

[[nodiscard]] HRESULT LoadAgentTypeLib(ComPtr<ITypeLib>& lib) {
  return LoadTypeLibEx(Widen(AgentPath()).c_str(), REGKIND_NONE, lib.put());
}

int Register(const std::string& component, bool service) {
  const std::string serviceId = NewGuidText();
  if (serviceId.empty()) return Fail("CoCreateGuid", E_FAIL);

  RegKey key;
  const std::string path = kAppIdKey + component;
  LONG error = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, key.put(), nullptr);
  if (error != ERROR_SUCCESS) return Fail("RegCreateKeyEx", error);
  error = SetRegValues(key.get(), {RegValue::String("ServiceID", serviceId),
                                   RegValue::Dword("LocalService", service ? 1 : 0)});
  if (error != ERROR_SUCCESS) return Fail("RegSetValueEx", error);

  ComPtr<ITypeLib> lib;
  if (HRESULT hr = LoadAgentTypeLib(lib); FAILED(hr)) return Fail("LoadTypeLibEx", hr);
  std::wstring libPath = Widen(AgentPath());
  if (HRESULT hr = RegisterTypeLib(lib.get(), libPath.data(), nullptr); FAILED(hr))
    return Fail("RegisterTypeLib", hr);
  std::printf("%s\n", serviceId.c_str());
  return 0;
}

int Remove(const std::string& component) {
  const std::string path = kAppIdKey + component;
  const LONG error = RegDeleteKeyA(HKEY_CLASSES_ROOT, path.c_str());
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return Fail("RegDeleteKey", error);
  ComPtr<ITypeLib> lib;
  if (HRESULT hr = LoadAgentTypeLib(lib); FAILED(hr)) return Fail("LoadTypeLibEx", hr);
  TLIBATTR* attr = nullptr;
  if (HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr)) return Fail("GetLibAttr", hr);
  const TLIBATTR copy = *attr;
  lib->ReleaseTLibAttr(attr);
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
  const ComApartment apartment;
  if (FAILED(apartment.result())) return Fail("CoInitialize", E_FAIL);
  return remove ? Remove(component) : Register(component, service);
}
