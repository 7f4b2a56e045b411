#pragma once
// The state lock: one critical section (spin count 4000) guarding the supervision state where
// the run-loop thread and the service control handler meet.

#include <memory>

#include "platform/sync.h"

namespace keldran {

class CritSect {
 public:
  static constexpr std::uint32_t kSpinCount = 4000;
  explicit CritSect(ISync& sync) : lock_(sync.CreateCriticalSection(kSpinCount)) {}
  virtual ~CritSect() = default;
  CritSect(const CritSect&) = delete;
  CritSect& operator=(const CritSect&) = delete;

  void Enter() { lock_->Enter(); }
  void Leave() { lock_->Leave(); }
  ILock& lock() { return *lock_; }

 private:
  std::unique_ptr<ILock> lock_;
};

// Holds the state lock for a scope.
class StateLock : public LockGuard {
 public:
  explicit StateLock(CritSect& section) : LockGuard(section.lock()) {}
};

}  // namespace keldran
