#include "common/com.h"

namespace keldran::tools {

std::string NewGuidText() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return {};
  wchar_t text[64];
  if (StringFromGUID2(guid, text, 64) == 0) return {};
  return Narrow(text);
}

HRESULT FindRunningObject(const std::string& name, DWORD timeoutMs, DWORD retryMs,
                          ComPtr<IUnknown>& object) {
  const std::wstring wide = Widen(name);
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    ComPtr<IRunningObjectTable> table;
    ComPtr<IMoniker> moniker;
    HRESULT hr = GetRunningObjectTable(0, table.put());
    if (SUCCEEDED(hr)) hr = CreateFileMoniker(wide.c_str(), moniker.put());
    if (SUCCEEDED(hr)) hr = table->GetObject(moniker.get(), object.put());
    if (SUCCEEDED(hr) && object) return S_OK;
    if (GetTickCount64() >= deadline) return FAILED(hr) ? hr : E_FAIL;
    Sleep(retryMs);
  }
}

bool IsInRunningObjectTable(const std::string& name) {
  ComPtr<IRunningObjectTable> table;
  ComPtr<IMoniker> moniker;
  if (FAILED(GetRunningObjectTable(0, table.put()))) return false;
  if (FAILED(CreateFileMoniker(Widen(name).c_str(), moniker.put()))) return false;
  return table->IsRunning(moniker.get()) == S_OK;
}

}  // namespace keldran::tools
