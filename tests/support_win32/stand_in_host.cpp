#include "support_win32/stand_in_host.h"

#include <atomic>
#include <cstdio>

#include "keldran_service.h"
#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

std::string Text(BSTR text) { return text ? Narrow(text) : "<null>"; }

std::string Format(const char* format, long a, long b = 0, long c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// The recording IService. Its IDispatch half is served from the type library's description of
// the interface, as the host's own object does.
class StandInService final : public IService {
 public:
  StandInService(StandInHost& host, ComPtr<ITypeInfo> info) : host_(host), info_(std::move(info)) {}
  StandInService(const StandInService&) = delete;
  StandInService& operator=(const StandInService&) = delete;

  // IUnknown
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

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    info_->AddRef();
    *info = info_.get();
    return S_OK;
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

  // IService
  HRESULT STDMETHODCALLTYPE Stop() override { return Record("Stop"); }
  HRESULT STDMETHODCALLTYPE Running() override { return Record("Running"); }
  HRESULT STDMETHODCALLTYPE Pause() override { return Record("Pause"); }
  HRESULT STDMETHODCALLTYPE Connect(unsigned int hwndClient, LONG* threadId) override {
    host_.SetClientWindow(reinterpret_cast<HWND>(static_cast<UINT_PTR>(hwndClient)));
    if (threadId) *threadId = static_cast<LONG>(GetCurrentThreadId());
    return Record(Format("Connect hwnd=%ld", static_cast<long>(hwndClient)));
  }
  HRESULT STDMETHODCALLTYPE Log(LONG type, BSTR text, LONG cat, LONG msg) override {
    return Record(Format("Log type=%ld cat=%ld msg=%ld", type, cat, msg) + " text=" + Text(text));
  }
  HRESULT STDMETHODCALLTYPE StartWorker(BSTR config, VARIANT, IDispatch** worker) override {
    if (worker) *worker = nullptr;
    return Record("StartWorker config=" + Text(config));
  }
  HRESULT STDMETHODCALLTYPE StopWorker(IDispatch*, LONG flags) override {
    return Record(Format("StopWorker flags=%ld", flags));
  }
  HRESULT STDMETHODCALLTYPE RequestStop() override { return Record("RequestStop"); }
  HRESULT STDMETHODCALLTYPE NotifyVisible(LONG visible) override {
    return Record(Format("NotifyVisible %ld", visible));
  }
  HRESULT STDMETHODCALLTYPE NotifyCanDebug(LONG canDebug) override {
    return Record(Format("NotifyCanDebug %ld", canDebug));
  }
  HRESULT STDMETHODCALLTYPE SetToolTip(BSTR text) override {
    return Record("SetToolTip " + Text(text));
  }
  HRESULT STDMETHODCALLTYPE ShowBalloon(BSTR text, LONG type) override {
    return Record(Format("ShowBalloon type=%ld", type) + " text=" + Text(text));
  }
  HRESULT STDMETHODCALLTYPE Restart() override { return Record("Restart"); }
  // Answers "<Section>/<Key>/<Default>" so that a client can show what arrived.
  HRESULT STDMETHODCALLTYPE ReadIniString(BSTR section, BSTR key, BSTR fallback,
                                          BSTR* result) override {
    const std::string answer = Text(section) + "/" + Text(key) + "/" + Text(fallback);
    if (result) *result = SysAllocString(Widen(answer).c_str());
    return Record("ReadIniString " + answer);
  }
  HRESULT STDMETHODCALLTYPE DeleteFileOnTimeout(BSTR file) override {
    return Record("DeleteFileOnTimeout " + Text(file));
  }
  HRESULT STDMETHODCALLTYPE Progress(BSTR text, LONG timeout) override {
    return Record(Format("Progress timeout=%ld", timeout) + " text=" + Text(text));
  }

 private:
  ~StandInService() = default;

  HRESULT Record(std::string call) noexcept {
    try {
      host_.Record(std::move(call));
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  std::atomic<ULONG> refs_{1};
  StandInHost& host_;
  ComPtr<ITypeInfo> info_;
};

// The vtable half of the dual interface: DispInvoke calls through it.
[[nodiscard]] HRESULT LoadServiceTypeInfo(ComPtr<ITypeInfo>& out) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(Widen(AgentExePath()).c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> info;
  hr = lib->GetTypeInfoOfGuid(IID_IService, info.put());
  if (FAILED(hr)) return hr;
  TYPEATTR* attr = nullptr;
  hr = info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  const bool isDispatch = attr->typekind == TKIND_DISPATCH;
  info->ReleaseTypeAttr(attr);
  if (!isDispatch) {
    out = info;
    return S_OK;
  }
  HREFTYPE vtable;
  hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable);
  if (FAILED(hr)) return hr;
  return info->GetRefTypeInfo(vtable, out.put());
}

}  // namespace

// ---- StandInHost ------------------------------------------------------------------------------

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

std::vector<std::string> StandInHost::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

size_t StandInHost::Count(const std::string& method) const {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const std::string& call : calls_) {
    if (call.compare(0, method.size(), method) == 0 &&
        (call.size() == method.size() || call[method.size()] == ' ')) {
      ++count;
    }
  }
  return count;
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
