// The DLL's exports: the class object of KeldranGridUtil.Client, the unload check and
// self-registration.
#include <windows.h>
// (windows.h first: the COM headers build on it.)
#include <ole2.h>

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, void** out) {
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_OK; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return S_OK; }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return S_OK; }
