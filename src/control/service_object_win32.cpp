// CService: the IService object a client reaches through the running-object table. It is glue:
// every method converts its automation arguments and forwards to ServiceCalls, on the run-loop
// thread where COM delivers the calls. IDispatch is served from the type library embedded in
// the executable, so late-bound callers get names, DISPIDs and default arguments from it; calls
// from other processes go through the type library's universal marshaler.
#include "platform/boundary.h"
#include "platform/win32/windows_api.h"

#include "control/service_object_win32.h"

#include <atomic>

#include "control/service_calls.h"
#include "keldran_service.h"
#include "platform/win32/backend.h"
#include "platform/win32/dual_dispatch.h"

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

win32::ComPtr<ITypeInfo> LoadTypeInfo(const std::string& exePath, REFIID iid) {
  win32::ComPtr<ITypeInfo> info;
  win32::ComPtr<ITypeLib> library;
  const std::wstring path = win32::ToWide(exePath);
  // The interface half of the dual description: DispInvoke calls through its vtable.
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put())) ||
      FAILED(library->GetTypeInfoOfGuid(iid, info.put()))) {
    info.reset();
  }
  return info;
}

class CService final : public win32::DualDispatch<IService>, public ISupportErrorInfo {
 public:
  CService(ServiceCalls& calls, IRunControl& run, const std::string& exePath)
      : DualDispatch(LoadTypeInfo(exePath, IID_IService)),
        calls_(calls),
        run_(run),
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
  class StatusPart final : public win32::DualDispatch<IServiceStatus> {
   public:
    StatusPart(CService& owner, win32::ComPtr<ITypeInfo> info)
        : DualDispatch(std::move(info)), owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
      return owner_.QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return owner_.Release(); }
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
      ReportBoundaryFailure("a call of the control interface");
      return E_UNEXPECTED;
    }
  }

  ServiceCalls& calls_;
  IRunControl& run_;
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
