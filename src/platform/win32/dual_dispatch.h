#pragma once
// IDispatch of a dual interface, answered from the interface's type description: late-bound
// callers get names, DISPIDs and default arguments, and DispInvoke calls through the
// interface's own vtable. For the COM objects of the host and of its companion DLL.

#include "platform/win32/windows_api.h"

#include "platform/win32/unique_handle.h"

namespace keldran::win32 {

template <class Interface>
class DualDispatch : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (!count) return E_POINTER;
    *count = info_ ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0 || !info_) return DISP_E_BADINDEX;
    info_->AddRef();
    *info = info_.get();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    return info_ ? DispGetIDsOfNames(info_.get(), names, count, ids) : E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* badArgument) noexcept override {
    return info_ ? DispInvoke(static_cast<Interface*>(this), info_.get(), id, flags, params, result,
                              exception, badArgument)
                 : E_NOTIMPL;
  }

 protected:
  // The interface's half of its dual description (none: no late binding).
  explicit DualDispatch(ComPtr<ITypeInfo> info) : info_(std::move(info)) {}
  ~DualDispatch() = default;

 private:
  ComPtr<ITypeInfo> info_;
};

}  // namespace keldran::win32
