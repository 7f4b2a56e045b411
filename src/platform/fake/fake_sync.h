#pragma once
// Locks for the fake backend. Critical sections are real recursive mutexes (the contract tests
// use real threads). Named mutexes never block: a wait on a mutex owned elsewhere moves virtual
// time by the wait and times out, so tests stay deterministic. A test can make a mutex look held
// by another process. A worker runs its passes on the caller's thread: a Wake runs a pass at
// once (a worker that is idle keeps up), and the retry a pass asks for runs in virtual time.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_support.h"
#include "platform/sync.h"

namespace keldran::fake {

class FakeSync final : public ISync, private FakeArea {
 public:
  FakeSync(FaultPlan& faults, FakeSystemTexts& texts, FakeClock& clock);
  ~FakeSync() override;

  std::unique_ptr<ILock> CreateCriticalSection(std::uint32_t spinCount) override;
  Win32Error CreateNamedMutex(const std::string& name, const std::string& sddl,
                              MutexHandle* mutex) override;
  std::uint32_t WaitForMutex(MutexHandle mutex, std::uint32_t milliseconds) override;
  bool ReleaseMutex(MutexHandle mutex) override;
  void CloseMutex(MutexHandle mutex) override;
  std::unique_ptr<IWorker> StartWorker(WorkerPass pass) override;

  // Another process takes (true) or gives back (false) the named mutex.
  void HoldElsewhere(const std::string& name, bool held);
  std::size_t OpenMutexCount() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
  }
  // The security text a named mutex was created with.
  std::string SddlOf(const std::string& name) const;

 private:
  struct Mutex;
  friend struct OwnedMutexes;
  std::shared_ptr<Mutex> Named(const std::string& name);
  // The mutex a handle is for; none (and ERROR_INVALID_HANDLE as last error) when it is not open.
  std::shared_ptr<Mutex> Opened(MutexHandle handle);

  FakeClock& clock_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Mutex>> named_;
  std::map<std::uintptr_t, std::shared_ptr<Mutex>> handles_;
};

}  // namespace keldran::fake
