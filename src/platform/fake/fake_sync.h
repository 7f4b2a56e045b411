#pragma once
// Locks: critical sections are real mutexes (the contract tests use threads); a wait on a named
// mutex held elsewhere times out in virtual time; a worker's passes run on the waking thread.

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
  std::string SddlOf(const std::string& name) const;

 private:
  struct Mutex;
  friend struct OwnedMutexes;
  std::shared_ptr<Mutex> Named(const std::string& name);
  // None, with ERROR_INVALID_HANDLE, for a handle that is not open.
  std::shared_ptr<Mutex> Opened(MutexHandle handle);

  FakeClock& clock_;
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Mutex>> named_;
  std::map<std::uintptr_t, std::shared_ptr<Mutex>> handles_;
};

}  // namespace keldran::fake
