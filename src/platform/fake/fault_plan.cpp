#include "platform/fake/fault_plan.h"

namespace keldran::fake {

void FaultPlan::Fail(const std::string& operation, Win32Error error, int times) {
  std::lock_guard lock(mutex_);
  entries_[operation] = Entry{error, times};
}

std::optional<Win32Error> FaultPlan::Take(const std::string& operation) {
  std::lock_guard lock(mutex_);
  ++calls_[operation];
  auto it = entries_.find(operation);
  if (it == entries_.end()) return std::nullopt;
  Win32Error error = it->second.error;
  if (it->second.remaining > 0 && --it->second.remaining == 0) entries_.erase(it);
  return error;
}

int FaultPlan::Calls(const std::string& operation) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

}  // namespace keldran::fake
