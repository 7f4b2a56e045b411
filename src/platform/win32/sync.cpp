// ISync: critical sections, named mutexes and worker threads.
#include <atomic>

#include "platform/boundary.h"
#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

// A thread that sleeps on an auto-reset event between passes: a Wake during a pass leaves the
// event set, so the next pass follows at once and no wake is lost.
class Worker final : public IWorker {
 public:
  explicit Worker(WorkerPass pass)
      : pass_(std::move(pass)), wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~Worker() override {
    stop_ = true;
    if (!thread_) return;
    ::SetEvent(wake_.get());
    ::WaitForSingleObject(thread_.get(), INFINITE);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  [[nodiscard]] bool Start() {
    if (!wake_) return false;
    thread_.reset(::CreateThread(nullptr, 0, &Worker::Main, this, 0, nullptr));
    return static_cast<bool>(thread_);
  }
  void Wake() override { ::SetEvent(wake_.get()); }

 private:
  static DWORD WINAPI Main(void* self) noexcept {
    try {
      static_cast<Worker*>(self)->Loop();
    } catch (...) {
      // Nothing may leave a thread's entry.
      ReportBoundaryFailure("a worker thread");
    }
    return 0;
  }
  void Loop() {
    DWORD wait = INFINITE;
    while (!stop_) {
      ::WaitForSingleObject(wake_.get(), wait);
      if (stop_) break;
      const std::uint32_t delay = pass_();
      wait = delay == 0 ? INFINITE : delay;
    }
  }

  WorkerPass pass_;
  UniqueKernelHandle wake_;
  UniqueKernelHandle thread_;
  std::atomic<bool> stop_{false};
};

class Lock final : public ILock {
 public:
  explicit Lock(std::uint32_t spinCount) : section_(spinCount) {}
  void Enter() override { section_.Enter(); }
  void Leave() override { section_.Leave(); }

 private:
  CriticalSection section_;
};

class Sync final : public ISync {
 public:
  std::unique_ptr<ILock> CreateCriticalSection(std::uint32_t spinCount) override {
    return std::make_unique<Lock>(spinCount);
  }

  Win32Error CreateNamedMutex(const std::string& name, const std::string& sddl,
                              MutexHandle* mutex) override {
    UniqueLocal descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (!sddl.empty()) {
      PSECURITY_DESCRIPTOR converted = nullptr;
      if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                  &converted, nullptr)) {
        return ::GetLastError();
      }
      descriptor.reset(converted);
      attributes.lpSecurityDescriptor = converted;
    }
    // Asking for only what waiting and releasing need lets a process whose descriptor grants no
    // more open the mutex that another made (CreateMutexW would ask for all access).
    HANDLE h = ::CreateMutexExW(sddl.empty() ? nullptr : &attributes, ToWide(name).c_str(), 0,
                                SYNCHRONIZE | MUTEX_MODIFY_STATE);
    if (!h) return ::GetLastError();
    *mutex = ToSeam<MutexHandle>(h);
    return 0;
  }

  std::uint32_t WaitForMutex(MutexHandle mutex, std::uint32_t milliseconds) override {
    return ::WaitForSingleObject(FromSeam<HANDLE>(mutex), milliseconds);
  }

  bool ReleaseMutex(MutexHandle mutex) override {
    return ::ReleaseMutex(FromSeam<HANDLE>(mutex)) != FALSE;
  }

  void CloseMutex(MutexHandle mutex) override {
    UniqueKernelHandle(FromSeam<HANDLE>(mutex)).reset();
  }

  std::unique_ptr<IWorker> StartWorker(WorkerPass pass) override {
    auto worker = std::make_unique<Worker>(std::move(pass));
    if (!worker->Start()) return nullptr;
    return worker;
  }
};

}  // namespace

std::unique_ptr<ISync> MakeSync() { return std::make_unique<Sync>(); }

}  // namespace keldran::win32
