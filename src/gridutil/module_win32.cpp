// The DLL's entry point and exports: the class object of KeldranGridUtil.Client, the unload
// check and self-registration (registration_win32.cpp).
#include "gridutil/module_win32.h"

#include <atomic>

#include "keldran_gridutil.h"

namespace keldran::gridutil {
namespace {

HMODULE thisModule = nullptr;
std::atomic<long> moduleRefs{0};

// The one class object. It lives as long as the DLL, so its own references are not counted;
// LockServer is what keeps the DLL loaded between creations.
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                           void** out) noexcept override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateGridClient(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
    if (lock)
      AddModuleRef();
    else
      ReleaseModuleRef();
    return S_OK;
  }
};

ClassFactory classFactory;

std::string PathOf(HMODULE m) {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(m, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

std::wstring WidePathOf(HMODULE m) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(m, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

}  // namespace

HMODULE ThisModule() { return thisModule; }
std::string ModulePath() { return PathOf(thisModule); }
std::wstring ModulePathWide() { return WidePathOf(thisModule); }

void AddModuleRef() { ++moduleRefs; }
void ReleaseModuleRef() { --moduleRefs; }

}  // namespace keldran::gridutil

using namespace keldran::gridutil;

// The SDK headers declare the exports without noexcept, so they cannot say it here; each body
// catches or cannot throw.

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    thisModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_Client)) return CLASS_E_CLASSNOTAVAILABLE;
  return classFactory.QueryInterface(iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return moduleRefs == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return RegisterServer(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UnregisterServer(); }
