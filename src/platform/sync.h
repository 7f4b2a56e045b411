#pragma once
// Synchronisation: critical sections inside the process, named mutexes across processes, and a
// worker thread for work that must not hold up its callers.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/scoped.h"
#include "platform/thread_safety.h"
#include "platform/types.h"

namespace keldran {

struct MutexHandleTag;
using MutexHandle = Handle<MutexHandleTag>;

// A recursive lock owned by one thread at a time (a critical section).
class CAPABILITY("mutex") ILock {
 public:
  virtual ~ILock() = default;
  virtual void Enter() ACQUIRE() = 0;
  virtual void Leave() RELEASE() = 0;
};

// Fields that a lock guards name it as GUARDED_BY(*lock_): the analysis follows the owning
// pointer to the ILock that the guard holds.
class SCOPED_CAPABILITY LockGuard {
 public:
  explicit LockGuard(ILock& lock) ACQUIRE(lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() RELEASE() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  ILock& lock_;
};

// A thread of its own that runs a pass of work after each Wake, and again after the delay that a
// pass returns (0: not before the next Wake). A pass must not block for long: the worker ends
// only after the pass under way. The fake runs passes in virtual time instead of on a thread.
class IWorker {
 public:
  // Stops the worker, after the pass under way; no pass runs afterwards.
  virtual ~IWorker() = default;
  virtual void Wake() = 0;
};

// A pass: its result is the delay in milliseconds before the next one, 0 for none.
using WorkerPass = std::function<std::uint32_t()>;

class ISync {
 public:
  virtual ~ISync() = default;

  virtual std::unique_ptr<ILock> CreateCriticalSection(std::uint32_t spinCount) = 0;

  // CreateMutexExW, not initially owned, asking for the rights to wait and release only, with
  // non-inheritable security attributes whose descriptor is built from the SDDL text (empty:
  // default security).
  [[nodiscard]] virtual Win32Error CreateNamedMutex(const std::string& name,
                                                    const std::string& sddl,
                                                    MutexHandle* mutex) = 0;
  // WaitForSingleObject: one of wait_result.
  virtual std::uint32_t WaitForMutex(MutexHandle mutex, std::uint32_t milliseconds) = 0;
  virtual bool ReleaseMutex(MutexHandle mutex) = 0;
  virtual void CloseMutex(MutexHandle mutex) = 0;

  // Starts a worker running the pass; null when no thread could be started.
  virtual std::unique_ptr<IWorker> StartWorker(WorkerPass pass) = 0;
};

using ScopedMutex = Scoped<ISync, MutexHandle, &ISync::CloseMutex>;

}  // namespace keldran
