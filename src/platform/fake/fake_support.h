#pragma once
// What every fake area shares: the fault plan and the thread's last-error value.

#include <optional>
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

  FaultPlan& faults_;
  FakeSystemTexts& texts_;
};

// Case-insensitive (ASCII) key for names that Windows compares without regard to case.
std::string FoldCase(const std::string& text);

}  // namespace keldran::fake
