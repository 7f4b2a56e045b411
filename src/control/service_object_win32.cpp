// CService: the IService object a client reaches through the running-object table. It is glue:
// every method converts its automation arguments and forwards to ServiceCalls, on the run-loop
// thread where COM delivers the calls. IDispatch is served from the type library embedded in
// the executable, so late-bound callers get names, DISPIDs and default arguments from it; calls
// from other processes go through the type library's universal marshaler.
#include "platform/win32/windows_api.h"

#include "control/service_object_win32.h"

#include <atomic>

#include "control/service_calls.h"
#include "keldran_service.h"

namespace keldran {
namespace {

// An absent BSTR is nullptr; otherwise its characters (it may hold NULs).
class BstrText {
 public:
  explicit BstrText(BSTR text) {
    if (text) {
      value_.assign(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
      present_ = true;
    }
  }
  const WideString* get() const { return present_ ? &value_ : nullptr; }

 private:
  WideString value_;
  bool present_ = false;
};

ITypeInfo* LoadTypeInfo(const std::string& exePath, REFIID iid) {
  const int length = MultiByteToWideChar(CP_ACP, 0, exePath.c_str(), -1, nullptr, 0);
  if (length <= 0) return nullptr;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, exePath.c_str(), -1, wide.data(), length);
  ITypeLib* library = nullptr;
  if (FAILED(LoadTypeLibEx(wide.c_str(), REGKIND_NONE, &library))) return nullptr;
  ITypeInfo* info = nullptr;
  // The interface half of the dual description: DispInvoke calls through its vtable.
  if (FAILED(library->GetTypeInfoOfGuid(iid, &info))) info = nullptr;
  library->Release();
  return info;
}

// IDispatch from a type description: DispInvoke calls through the interface's own vtable.
class TypeInfoDispatch {
 public:
  explicit TypeInfoDispatch(ITypeInfo* info) : info_(info) {}
  TypeInfoDispatch(const TypeInfoDispatch&) = delete;
  TypeInfoDispatch& operator=(const TypeInfoDispatch&) = delete;
  ~TypeInfoDispatch() {
    if (info_) info_->Release();
  }
  HRESULT Count(UINT* count) const {
    if (!count) return E_POINTER;
    *count = info_ ? 1 : 0;
    return S_OK;
  }
  HRESULT Get(UINT index, ITypeInfo** info) const {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0 || !info_) return DISP_E_BADINDEX;
    info_->AddRef();
    *info = info_;
    return S_OK;
  }
  HRESULT Ids(LPOLESTR* names, UINT count, DISPID* ids) const {
    return info_ ? DispGetIDsOfNames(info_, names, count, ids) : E_NOTIMPL;
  }
  HRESULT Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* badArgument) const {
    return info_ ? DispInvoke(self, info_, id, flags, params, result, exception, badArgument)
                 : E_NOTIMPL;
  }

 private:
  ITypeInfo* info_;
};

class CService final : public IService, public ISupportErrorInfo {
 public:
  CService(ServiceCalls& calls, IRunControl& run, const std::string& exePath)
      : calls_(calls),
        run_(run),
        dispatch_(LoadTypeInfo(exePath, IID_IService)),
        status_(*this, LoadTypeInfo(exePath, IID_IServiceStatus)) {
    run_.Lock();
  }
  CService(const CService&) = delete;
  CService& operator=(const CService&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IService)) {
      *out = static_cast<IService*>(this);
    } else if (IsEqualIID(iid, IID_IServiceStatus)) {
      *out = static_cast<IServiceStatus*>(&status_);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override {
    return IsEqualIID(iid, IID_IService) ? S_OK : S_FALSE;
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    return dispatch_.Count(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override {
    return dispatch_.Get(index, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    return dispatch_.Ids(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* badArgument) noexcept override {
    return dispatch_.Invoke(static_cast<IService*>(this), id, flags, params, result, exception,
                            badArgument);
  }

  // IService
  HRESULT STDMETHODCALLTYPE Stop() noexcept override {
    return Guard([&] { return calls_.Stop(); });
  }
  HRESULT STDMETHODCALLTYPE Running() noexcept override {
    return Guard([&] { return calls_.Running(); });
  }
  HRESULT STDMETHODCALLTYPE Pause() noexcept override {
    return Guard([&] { return calls_.Pause(); });
  }
  HRESULT STDMETHODCALLTYPE Connect(unsigned int hwndClient, LONG* threadId) noexcept override {
    return Guard([&] {
      std::int32_t id = 0;
      const HResult hr = calls_.Connect(hwndClient, &id);
      if (threadId) *threadId = id;
      return hr;
    });
  }
  HRESULT STDMETHODCALLTYPE Log(LONG type, BSTR message, LONG category,
                                LONG number) noexcept override {
    return Guard([&] { return calls_.Log(type, BstrText(message).get(), category, number); });
  }
  HRESULT STDMETHODCALLTYPE StartWorker(BSTR config, VARIANT,
                                        IDispatch** worker) noexcept override {
    return Guard([&] {
      if (worker) *worker = nullptr;
      ObjectRef created;
      const HResult hr = calls_.StartWorker(BstrText(config).get(), &created);
      if (created && worker) {
        auto* unknown = static_cast<IUnknown*>(created.get());
        if (FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(worker))))
          *worker = nullptr;
      }
      return hr;
    });
  }
  HRESULT STDMETHODCALLTYPE StopWorker(IDispatch*, LONG flags) noexcept override {
    return Guard([&] { return calls_.StopWorker(flags); });
  }
  HRESULT STDMETHODCALLTYPE RequestStop() noexcept override {
    return Guard([&] { return calls_.RequestStop(); });
  }
  HRESULT STDMETHODCALLTYPE NotifyVisible(LONG visible) noexcept override {
    return Guard([&] { return calls_.NotifyVisible(visible); });
  }
  HRESULT STDMETHODCALLTYPE NotifyCanDebug(LONG canDebug) noexcept override {
    return Guard([&] { return calls_.NotifyCanDebug(canDebug); });
  }
  HRESULT STDMETHODCALLTYPE SetToolTip(BSTR text) noexcept override {
    return Guard([&] { return calls_.SetToolTip(BstrText(text).get()); });
  }
  HRESULT STDMETHODCALLTYPE ShowBalloon(BSTR message, LONG type) noexcept override {
    return Guard([&] { return calls_.ShowBalloon(BstrText(message).get(), type); });
  }
  HRESULT STDMETHODCALLTYPE Restart() noexcept override {
    return Guard([&] { return calls_.Restart(); });
  }
  HRESULT STDMETHODCALLTYPE ReadIniString(BSTR section, BSTR key, BSTR defaultValue,
                                          BSTR* result) noexcept override {
    return Guard([&] {
      if (!result) return kEPointer;
      *result = nullptr;
      WideString value;
      const HResult hr = calls_.ReadIniString(BstrText(section).get(), BstrText(key).get(),
                                              BstrText(defaultValue).get(), &value);
      *result = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()),
                                  static_cast<UINT>(value.size()));
      return *result ? hr : kEOutOfMemory;
    });
  }
  HRESULT STDMETHODCALLTYPE DeleteFileOnTimeout(BSTR file) noexcept override {
    return Guard([&] { return calls_.DeleteFileOnTimeout(BstrText(file).get()); });
  }
  HRESULT STDMETHODCALLTYPE Progress(BSTR message, LONG timeout) noexcept override {
    return Guard([&] { return calls_.Progress(BstrText(message).get(), timeout); });
  }

 private:
  // The status interface: a second vtable of the same object (same identity, same count),
  // with its own type description for late-bound callers.
  class StatusPart final : public IServiceStatus {
   public:
    StatusPart(CService& owner, ITypeInfo* info) : owner_(owner), dispatch_(info) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
      return owner_.QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return owner_.Release(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
      return dispatch_.Count(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override {
      return dispatch_.Get(index, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) noexcept override {
      return dispatch_.Ids(names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) noexcept override {
      return dispatch_.Invoke(static_cast<IServiceStatus*>(this), id, flags, params, result,
                              exception, badArgument);
    }
    HRESULT STDMETHODCALLTYPE Status(BSTR* text) noexcept override {
      return Guard([&] {
        if (!text) return kEPointer;
        *text = nullptr;
        WideString value;
        const HResult hr = owner_.calls_.Status(&value);
        *text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()),
                                  static_cast<UINT>(value.size()));
        return *text ? hr : kEOutOfMemory;
      });
    }

   private:
    CService& owner_;
    TypeInfoDispatch dispatch_;
  };

  ~CService() { run_.Unlock(); }

  // No exception may leave a COM method.
  template <class Call>
  static HRESULT Guard(Call call) noexcept {
    try {
      return call();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  ServiceCalls& calls_;
  IRunControl& run_;
  TypeInfoDispatch dispatch_;
  StatusPart status_;
  std::atomic<ULONG> references_{1};
};

}  // namespace

ObjectRef MakeServiceObject(ServiceCalls& calls, IRunControl& run, const std::string& exePath) {
  auto* service = new CService(calls, run, exePath);
  return ObjectRef(static_cast<IUnknown*>(static_cast<IService*>(service)),
                   [](void* object) { static_cast<IUnknown*>(object)->Release(); });
}

}  // namespace keldran
