#include "platform/fake/fake_sync.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace keldran::fake {

struct FakeSync::Mutex {
  std::string sddl;
  // Owner: a thread of this process, or another process (foreign).
  std::thread::id owner;
  bool foreign = false;
  bool abandoned = false;
  int recursion = 0;
};

// Mutexes owned by this thread: when it ends, the next waiter gets WAIT_ABANDONED.
struct OwnedMutexes {
  std::vector<std::pair<std::weak_ptr<FakeSync::Mutex>, std::mutex*>> owned;
  void Forget(const FakeSync::Mutex* m) {
    std::erase_if(owned, [m](const auto& entry) {
      auto locked = entry.first.lock();
      return !locked || locked.get() == m;
    });
  }
  ~OwnedMutexes() {
    for (auto& [weak, guard] : owned) {
      auto m = weak.lock();
      if (!m) continue;
      std::lock_guard lock(*guard);
      if (m->recursion > 0 && m->owner == std::this_thread::get_id() && !m->foreign) {
        m->recursion = 0;
        m->owner = std::thread::id();
        m->abandoned = true;
      }
    }
  }
};

namespace {

thread_local OwnedMutexes t_owned;

class FakeCriticalSection final : public ILock {
 public:
  void Enter() override { mutex_.lock(); }
  void Leave() override { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

class FakeWorker final : public IWorker {
 public:
  FakeWorker(FakeClock& clock, WorkerPass pass) : clock_(clock), pass_(std::move(pass)) {}
  ~FakeWorker() override {
    std::lock_guard lock(mutex_);
    if (retry_) clock_.Cancel(retry_);
  }
  FakeWorker(const FakeWorker&) = delete;
  FakeWorker& operator=(const FakeWorker&) = delete;

  void Wake() override { RunPasses(); }

 private:
  // A Wake from inside a pass (the pass logs) runs one more pass after it.
  void RunPasses() {
    {
      std::lock_guard lock(mutex_);
      if (running_) {
        again_ = true;
        return;
      }
      running_ = true;
      if (retry_) clock_.Cancel(std::exchange(retry_, 0));
    }
    std::uint32_t delay;
    for (;;) {
      delay = pass_();
      std::lock_guard lock(mutex_);
      if (!std::exchange(again_, false)) {
        running_ = false;
        if (delay != 0) {
          retry_ = clock_.After(delay, [this] {
            {
              std::lock_guard inner(mutex_);
              retry_ = 0;
            }
            RunPasses();
          });
        }
        return;
      }
    }
  }

  FakeClock& clock_;
  WorkerPass pass_;
  std::mutex mutex_;
  bool running_ = false;
  bool again_ = false;
  FakeClock::ActionId retry_ = 0;
};

}  // namespace

FakeSync::FakeSync(FaultPlan& faults, FakeSystemTexts& texts, FakeClock& clock)
    : FakeArea(faults, texts), clock_(clock) {}

FakeSync::~FakeSync() = default;

std::unique_ptr<ILock> FakeSync::CreateCriticalSection(std::uint32_t) {
  return std::make_unique<FakeCriticalSection>();
}

std::shared_ptr<FakeSync::Mutex> FakeSync::Named(const std::string& name) {
  auto& m = named_[name];
  if (!m) m = std::make_shared<Mutex>();
  return m;
}

Win32Error FakeSync::CreateNamedMutex(const std::string& name, const std::string& sddl,
                                      MutexHandle* mutex) {
  std::lock_guard lock(mutex_);
  *mutex = MutexHandle{};
  const bool existed = named_.count(name) != 0;
  auto m = Named(name);
  if (!existed) m->sddl = sddl;
  *mutex = MutexHandle{NewHandle()};
  handles_[mutex->value] = m;
  texts_.SetLastError(existed ? win32_error::kAlreadyExists : 0);
  return 0;
}

std::uint32_t FakeSync::WaitForMutex(MutexHandle handle, std::uint32_t milliseconds) {
  std::unique_lock lock(mutex_);
  if (Injected("WaitForSingleObject")) return wait_result::kFailed;
  auto opened = Opened(handle);
  if (!opened) return wait_result::kFailed;
  Mutex& m = *opened;
  const auto self = std::this_thread::get_id();
  if (m.recursion == 0 || (!m.foreign && m.owner == self)) {
    const bool wasAbandoned = m.abandoned;
    m.abandoned = false;
    if (m.recursion++ == 0) {
      m.owner = self;
      m.foreign = false;
      t_owned.owned.emplace_back(opened, &mutex_);
    }
    return wasAbandoned ? wait_result::kAbandoned : wait_result::kObject0;
  }
  lock.unlock();
  // Held elsewhere: the wait runs out in virtual time.
  if (milliseconds != 0 && milliseconds != kInfinite) clock_.Advance(milliseconds);
  return wait_result::kTimeout;
}

bool FakeSync::ReleaseMutex(MutexHandle handle) {
  std::lock_guard lock(mutex_);
  auto opened = Opened(handle);
  if (!opened) return false;
  Mutex& m = *opened;
  if (m.recursion == 0 || m.foreign || m.owner != std::this_thread::get_id()) {
    Fail(win32_error::kNotOwner);
    return false;
  }
  if (--m.recursion == 0) {
    m.owner = std::thread::id();
    t_owned.Forget(&m);
  }
  return true;
}

std::shared_ptr<FakeSync::Mutex> FakeSync::Opened(MutexHandle handle) {
  auto it = handles_.find(handle.value);
  if (it != handles_.end()) return it->second;
  Fail(win32_error::kInvalidHandle);
  return nullptr;
}

void FakeSync::CloseMutex(MutexHandle handle) {
  std::lock_guard lock(mutex_);
  handles_.erase(handle.value);
}

std::unique_ptr<IWorker> FakeSync::StartWorker(WorkerPass pass) {
  return std::make_unique<FakeWorker>(clock_, std::move(pass));
}

void FakeSync::HoldElsewhere(const std::string& name, bool held) {
  std::lock_guard lock(mutex_);
  auto m = Named(name);
  if (held) {
    m->foreign = true;
    m->recursion = 1;
  } else if (m->foreign) {
    m->foreign = false;
    m->recursion = 0;
  }
}

std::string FakeSync::SddlOf(const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = named_.find(name);
  return it == named_.end() ? std::string() : it->second->sddl;
}

}  // namespace keldran::fake
