#pragma once
// A stand-in for the host's control object: a bare IService that records every call, published
// in the running-object table under a file moniker named by a fresh ServiceID, the way the host
// publishes its own object. Clients find and call it exactly as they would the host; tests read
// what arrived, and benchmarks use it as the floor that the host's own object is measured
// against.
//
// The object lives on a thread of its own (a single-threaded apartment with a message loop, like
// the host's run loop), so the test's thread may block and wait while clients call.

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
