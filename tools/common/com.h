#pragma once
// Scope-bound COM ownership for the helper programs and tests (interface pointers, automation
// strings, variants, the apartment) and the running-object table lookups that hosts and
// clients meet at.

#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <string>
#include <utility>

#include "common/text.h"

namespace keldran::tools {

// One counted reference to a COM interface; released on every exit path.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* adopted) : p_(adopted) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(const ComPtr& other) {
    ComPtr copy(other);
    swap(copy);
    return *this;
  }
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr moved(std::move(other));
    swap(moved);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

 private:
  T* p_ = nullptr;
};

// An owned automation string.
class Bstr {
 public:
  Bstr() = default;
  // A null text stays a null string.
  explicit Bstr(const wchar_t* text) : s_(text ? SysAllocString(text) : nullptr) {}
  // Every character, embedded NULs too; an empty text is an empty string, not a null one.
  explicit Bstr(const std::wstring& text)
      : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(s_); }

  BSTR get() const { return s_; }
  BSTR* put() {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
  }
  // The text in the ANSI code page; empty for a null string.
  std::string narrow() const { return Narrow(s_); }

 private:
  BSTR s_ = nullptr;
};

// An owned VARIANT, cleared on every exit path.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }
  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }

 private:
  VARIANT v_;
};

// CoInitialize (a single-threaded apartment) for the scope; balanced only when it succeeded.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitialize(nullptr)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

// A fresh GUID text in braces, as registration makes for a component's ServiceID; empty on a
// failure.
std::string NewGuidText();

// The object registered in the running-object table under the file moniker of that name (a
// ServiceID). A host may still be registering itself when its client looks: the lookup is
// tried again every retryMs until timeoutMs have passed. COM must be initialised.
[[nodiscard]] HRESULT FindRunningObject(const std::string& name, DWORD timeoutMs, DWORD retryMs,
                                        ComPtr<IUnknown>& object);
// True while an object is registered under the file moniker of that name.
bool IsInRunningObjectTable(const std::string& name);

}  // namespace keldran::tools
