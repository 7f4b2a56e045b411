#pragma once
// A stand-in for the host's control object: a bare IService that records every call, published
// in the running-object table under a fresh ServiceID as the host publishes its own. Benchmarks
// measure the host against it. It lives on an apartment thread of its own, so the test's thread
// may block while clients call.

#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace keldran::test {

class StandInHost {
 public:
  StandInHost();
  StandInHost(const StandInHost&) = delete;
  StandInHost& operator=(const StandInHost&) = delete;
  ~StandInHost();

  // Starts the apartment thread and publishes the object; the failure's HRESULT otherwise.
  [[nodiscard]] HRESULT Start();
  // Revokes the registration and ends the thread (also done on destruction).
  void Stop();

  // The moniker name: a fresh GUID text such as registration makes.
  const std::string& serviceId() const { return serviceId_; }
  // The calls of the method so far.
  size_t Count(const std::string& method) const;
  // The window of the last Connect; null before one.
  HWND clientWindow() const;

  // Called by the object on the apartment thread.
  void Record(std::string call);
  void SetClientWindow(HWND window);

 private:
  void ThreadMain();

  std::string serviceId_;
  std::thread thread_;
  DWORD threadId_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable started_;
  bool startDone_ = false;
  HRESULT startResult_ = E_PENDING;
  std::vector<std::string> calls_;
  HWND clientWindow_ = nullptr;
};

}  // namespace keldran::test
