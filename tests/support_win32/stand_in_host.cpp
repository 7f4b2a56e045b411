#include "support_win32/stand_in_host.h"

#include <algorithm>
#include <atomic>

#include "keldran_service.h"
#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

// The recording IService. Its IDispatch half is served from the type library's description of
// the interface, as the host's own object does.
class StandInService final : public IService {
 public:
  StandInService(StandInHost& host, ComPtr<ITypeInfo> info) : host_(host), info_(std::move(info)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IService)) {
      *out = static_cast<IService*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // Calls by name need no type information of their own.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return DispGetIDsOfNames(info_.get(), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* badArg) override {
    return DispInvoke(static_cast<IService*>(this), info_.get(), id, flags, params, result,
                      exception, badArg);
  }

  // IService: each call is recorded by its name and succeeds.
  HRESULT STDMETHODCALLTYPE Stop() override { return Record("Stop"); }
  HRESULT STDMETHODCALLTYPE Running() override { return Record("Running"); }
  HRESULT STDMETHODCALLTYPE Pause() override { return Record("Pause"); }
  HRESULT STDMETHODCALLTYPE Connect(unsigned int hwndClient, LONG* threadId) override {
    host_.SetClientWindow(reinterpret_cast<HWND>(static_cast<UINT_PTR>(hwndClient)));
    if (threadId) *threadId = static_cast<LONG>(GetCurrentThreadId());
    return Record("Connect");
  }
  HRESULT STDMETHODCALLTYPE Log(LONG, BSTR, LONG, LONG) override { return Record("Log"); }
  HRESULT STDMETHODCALLTYPE StartWorker(BSTR, VARIANT, IDispatch** worker) override {
    if (worker) *worker = nullptr;
    return Record("StartWorker");
  }
  HRESULT STDMETHODCALLTYPE StopWorker(IDispatch*, LONG) override { return Record("StopWorker"); }
  HRESULT STDMETHODCALLTYPE RequestStop() override { return Record("RequestStop"); }
  HRESULT STDMETHODCALLTYPE NotifyVisible(LONG) override { return Record("NotifyVisible"); }
  HRESULT STDMETHODCALLTYPE NotifyCanDebug(LONG) override { return Record("NotifyCanDebug"); }
  HRESULT STDMETHODCALLTYPE SetToolTip(BSTR) override { return Record("SetToolTip"); }
  HRESULT STDMETHODCALLTYPE ShowBalloon(BSTR, LONG) override { return Record("ShowBalloon"); }
  HRESULT STDMETHODCALLTYPE Restart() override { return Record("Restart"); }
  HRESULT STDMETHODCALLTYPE ReadIniString(BSTR, BSTR, BSTR fallback, BSTR* result) override {
    if (result) *result = SysAllocString(fallback ? fallback : L"");
    return Record("ReadIniString");
  }
  HRESULT STDMETHODCALLTYPE DeleteFileOnTimeout(BSTR) override {
    return Record("DeleteFileOnTimeout");
  }
  HRESULT STDMETHODCALLTYPE Progress(BSTR, LONG) override { return Record("Progress"); }

 private:
  ~StandInService() = default;

  HRESULT Record(const char* method) noexcept {
    try {
      host_.Record(method);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  std::atomic<ULONG> refs_{1};
  StandInHost& host_;
  ComPtr<ITypeInfo> info_;
};

// The vtable half of the dual interface, which DispInvoke calls through.
[[nodiscard]] HRESULT LoadServiceTypeInfo(ComPtr<ITypeInfo>& out) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(Widen(AgentExePath()).c_str(), REGKIND_NONE, lib.put());
  ComPtr<ITypeInfo> info;
  if (SUCCEEDED(hr)) hr = lib->GetTypeInfoOfGuid(IID_IService, info.put());
  if (FAILED(hr)) return hr;
  HREFTYPE vtable;
  if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable)))
    return info->GetRefTypeInfo(vtable, out.put());
  out = info;  // not the dispatch half: already the vtable
  return S_OK;
}

}  // namespace

StandInHost::StandInHost() : serviceId_(NewGuidText()) {}

StandInHost::~StandInHost() { Stop(); }

HRESULT StandInHost::Start() {
  if (thread_.joinable()) return E_UNEXPECTED;
  if (serviceId_.empty()) return E_FAIL;
  thread_ = std::thread([this] { ThreadMain(); });
  std::unique_lock lock(mutex_);
  started_.wait(lock, [this] { return startDone_; });
  return startResult_;
}

void StandInHost::Stop() {
  if (!thread_.joinable()) return;
  PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
  thread_.join();
}

void StandInHost::ThreadMain() {
  MSG msg;
  // Creates this thread's message queue, so that Stop can post to it from now on.
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  ComApartment apartment;
  ComPtr<IRunningObjectTable> table;
  ComPtr<IMoniker> moniker;
  ComPtr<ITypeInfo> info;
  DWORD cookie = 0;
  HRESULT hr = apartment.result();
  if (SUCCEEDED(hr)) hr = LoadServiceTypeInfo(info);
  if (SUCCEEDED(hr)) hr = GetRunningObjectTable(0, table.put());
  if (SUCCEEDED(hr)) hr = CreateFileMoniker(Widen(serviceId_).c_str(), moniker.put());
  if (SUCCEEDED(hr)) {
    ComPtr<IService> object(new StandInService(*this, info));
    // For callers of this account only, as the host registers its object.
    hr = table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object.get(), moniker.get(), &cookie);
  }
  {
    std::lock_guard lock(mutex_);
    threadId_ = GetCurrentThreadId();
    startResult_ = hr;
    startDone_ = true;
  }
  started_.notify_all();
  if (FAILED(hr)) return;

  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  table->Revoke(cookie);
}

size_t StandInHost::Count(const std::string& method) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count(calls_.begin(), calls_.end(), method));
}

HWND StandInHost::clientWindow() const {
  std::lock_guard lock(mutex_);
  return clientWindow_;
}

void StandInHost::Record(std::string call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

void StandInHost::SetClientWindow(HWND window) {
  std::lock_guard lock(mutex_);
  clientWindow_ = window;
}

}  // namespace keldran::test
