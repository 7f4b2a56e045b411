#pragma once
// What every fake area shares: the fault plan, the thread's last-error value, handle values and
// the case folding of names.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/fake/fake_system_texts.h"
#include "platform/fake/fault_plan.h"

namespace keldran::fake {

class FakeArea {
 protected:
  FakeArea(FaultPlan& faults, FakeSystemTexts& texts) : faults_(faults), texts_(texts) {}

  // The injected failure for this call of the operation, if any, already set as last error.
  std::optional<Win32Error> Injected(const std::string& operation) {
    auto error = faults_.Take(operation);
    if (error) texts_.SetLastError(*error);
    return error;
  }
  // Records a failure as the thread's last error and hands it back.
  Win32Error Fail(Win32Error error) {
    texts_.SetLastError(error);
    return error;
  }
  // Win32 calls that fail a COM way report the injected value as an HRESULT.
  std::optional<HResult> InjectedHResult(const std::string& operation) {
    auto error = faults_.Take(operation);
    if (!error) return std::nullopt;
    return static_cast<HResult>(*error);
  }
  // A handle value that no other fake object of any kind has had lately, so that a handle given
  // to the wrong call is never taken for another object. The values come round again only after
  // 16 million handles, below the predefined registry keys' 0x80000000.
  static std::uintptr_t NewHandle() {
    static std::atomic<std::uintptr_t> count{0};
    return 0x1000 + (count++ % 0x1000000) * 4;
  }

  FaultPlan& faults_;
  FakeSystemTexts& texts_;
};

// A copy of a value that its area's mutex guards, for the test-side readers.
template <class Mutex, class T>
T Locked(Mutex& mutex, const T& value) {
  std::lock_guard lock(mutex);
  return value;
}

// For calls that the fake leaves to the tests under Wine.
[[noreturn]] inline void NotModelled(const char* call) {
  throw std::logic_error(std::string(call) + " is not modelled by the fake: test it under Wine");
}

// Case-insensitive (ASCII) key for names that Windows compares without regard to case; for ANSI
// and wide names alike.
template <class String>
String FoldCase(String text) {
  for (auto& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<typename String::value_type>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace keldran::fake
