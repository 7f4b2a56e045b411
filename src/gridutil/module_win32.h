#pragma once
// What the parts of KeldranGridUtil.dll share: the module, and the count of live objects and
// server locks that decides whether COM may unload the DLL.

#include "platform/win32/windows_api.h"

#include <string>

namespace keldran::gridutil {

HMODULE ThisModule();
// The DLL's full path: narrow for the registry, wide for the type library calls.
std::string ModulePath();
std::wstring ModulePathWide();

void AddModuleRef();
void ReleaseModuleRef();

// Keeps the DLL loaded for the life of the object that holds it.
class ModuleRef {
 public:
  ModuleRef() { AddModuleRef(); }
  ModuleRef(const ModuleRef&) = delete;
  ModuleRef& operator=(const ModuleRef&) = delete;
  ~ModuleRef() { ReleaseModuleRef(); }
};

// A new KeldranGridUtil.Client, as the interface asked for (the class factory's work).
HRESULT CreateGridClient(REFIID iid, void** out) noexcept;

HRESULT RegisterServer() noexcept;
HRESULT UnregisterServer() noexcept;

}  // namespace keldran::gridutil
