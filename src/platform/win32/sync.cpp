// ISync: critical sections and named mutexes.
#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

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
    HANDLE h = ::CreateMutexW(sddl.empty() ? nullptr : &attributes, FALSE, ToWide(name).c_str());
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
};

}  // namespace

std::unique_ptr<ISync> MakeSync() { return std::make_unique<Sync>(); }

}  // namespace keldran::win32
