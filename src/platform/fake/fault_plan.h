#pragma once
// Failure injection: a test names an operation by its Win32 name without the A/W suffix (for COM
// operations the injected value is the HRESULT itself).

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/types.h"

namespace keldran::fake {

class FaultPlan {
 public:
  // The next `times` calls fail with the error; times < 0 means every call until cleared.
  void Fail(const std::string& operation, Win32Error error, int times = 1);
  // Called by the fakes once per call of the operation: the error to fail with, if any.
  std::optional<Win32Error> Take(const std::string& operation);
  // How often the operation was called (counted whether or not it failed).
  int Calls(const std::string& operation) const;

 private:
  struct Entry {
    Win32Error error = 0;
    int remaining = 0;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  std::map<std::string, int> calls_;
};

}  // namespace keldran::fake
