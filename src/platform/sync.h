#pragma once
// Synchronisation: critical sections inside the process and named mutexes across processes.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/scoped.h"
#include "platform/types.h"

namespace keldran {

struct MutexHandleTag;
using MutexHandle = Handle<MutexHandleTag>;

// A recursive lock owned by one thread at a time (a critical section).
class ILock {
 public:
  virtual ~ILock() = default;
  virtual void Enter() = 0;
  virtual void Leave() = 0;
};

class LockGuard {
 public:
  explicit LockGuard(ILock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  ILock& lock_;
};

class ISync {
 public:
  virtual ~ISync() = default;

  virtual std::unique_ptr<ILock> CreateCriticalSection(std::uint32_t spinCount) = 0;

  // CreateMutexW, not initially owned, with non-inheritable security attributes whose
  // descriptor is built from the SDDL text (empty: default security).
  [[nodiscard]] virtual Win32Error CreateNamedMutex(const std::string& name,
                                                    const std::string& sddl,
                                                    MutexHandle* mutex) = 0;
  // WaitForSingleObject: one of wait_result.
  virtual std::uint32_t WaitForMutex(MutexHandle mutex, std::uint32_t milliseconds) = 0;
  virtual bool ReleaseMutex(MutexHandle mutex) = 0;
  virtual void CloseMutex(MutexHandle mutex) = 0;
};

using ScopedMutex = Scoped<ISync, MutexHandle, &ISync::CloseMutex>;

}  // namespace keldran
