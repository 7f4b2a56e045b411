#pragma once
// Ownership of Win32 handles and COM resources: one owner template whose traits say what "none"
// is and how to close, aliases for every kind the backend holds, and a few small owners for
// things that are not plain handles (critical sections, COM pointers, BSTRs, VARIANTs).

#include "platform/win32/windows_api.h"

#include <utility>

namespace keldran::win32 {

// Closing must not disturb the last-error value a failed call just left for its caller.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : saved_(::GetLastError()) {}
  ~LastErrorKeeper() { ::SetLastError(saved_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD saved_;
};

// Traits: `using Type`, `static Type Invalid()` and `static void Close(Type)`.
template <class Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type value) noexcept : value_(value) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Type get() const noexcept { return value_; }
  // For out-parameters: closes what is held and hands out the slot.
  Type* put() noexcept {
    reset();
    return &value_;
  }
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) {
      LastErrorKeeper keep;
      Traits::Close(old);
    }
  }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

 private:
  Type value_ = Traits::Invalid();
};

template <class T, auto CloseFn>
struct NullIsInvalidTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { CloseFn(value); }
};

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { ::CloseHandle(value); }
};

struct FindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) noexcept { ::FindClose(value); }
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::RegCloseKey(value); }
};

struct BstrTraits {
  using Type = BSTR;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type value) noexcept { ::SysFreeString(value); }
};

// Kernel objects (processes, threads, mutexes, tokens): null is "none".
using UniqueKernelHandle = UniqueHandle<NullIsInvalidTraits<HANDLE, &::CloseHandle>>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
using UniqueScHandle = UniqueHandle<NullIsInvalidTraits<SC_HANDLE, &::CloseServiceHandle>>;
using UniqueEventSource = UniqueHandle<NullIsInvalidTraits<HANDLE, &::DeregisterEventSource>>;
using UniqueWindow = UniqueHandle<NullIsInvalidTraits<HWND, &::DestroyWindow>>;
using UniqueIcon = UniqueHandle<NullIsInvalidTraits<HICON, &::DestroyIcon>>;
using UniqueMenu = UniqueHandle<NullIsInvalidTraits<HMENU, &::DestroyMenu>>;
using UniqueModule = UniqueHandle<NullIsInvalidTraits<HMODULE, &::FreeLibrary>>;
using UniqueLocal = UniqueHandle<NullIsInvalidTraits<HLOCAL, &::LocalFree>>;
using UniqueCoTaskMem = UniqueHandle<NullIsInvalidTraits<void*, &::CoTaskMemFree>>;
using UniqueBstr = UniqueHandle<BstrTraits>;

// A critical section that lives exactly as long as this object.
class CriticalSection {
 public:
  explicit CriticalSection(DWORD spinCount) {
    ::InitializeCriticalSectionAndSpinCount(&section_, spinCount);
  }
  ~CriticalSection() { ::DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() noexcept { ::EnterCriticalSection(&section_); }
  void Leave() noexcept { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

// One counted COM reference.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  [[nodiscard]] T* release() noexcept { return std::exchange(ptr_, nullptr); }
  void reset() noexcept {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  template <class U>
  HRESULT As(const IID& iid, ComPtr<U>* out) const noexcept {
    return ptr_->QueryInterface(iid, out->put_void());
  }

 private:
  T* ptr_ = nullptr;
};

class UniqueVariant {
 public:
  UniqueVariant() noexcept { ::VariantInit(&value_); }
  ~UniqueVariant() { ::VariantClear(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;

  VARIANT* get() noexcept { return &value_; }
  const VARIANT* get() const noexcept { return &value_; }

 private:
  VARIANT value_;
};

// Runs a clean-up that has no owner type of its own when the scope ends.
template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F fn) : fn_(std::move(fn)) {}
  ~ScopeExit() { fn_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F fn_;
};

}  // namespace keldran::win32
