#pragma once
// What the IService calls ask of the run that hosts them. The service implements it.

#include <cstdint>

namespace keldran {

class IRunControl {
 public:
  virtual ~IRunControl() = default;
  // Ends the run loop.
  virtual void RequestQuit() = 0;
  // Ends the run loop after a reported failure: the program then exits with E_FAIL.
  virtual void FailRun() = 0;
  // Reports a state to the Service Control Manager when the host runs as a service.
  virtual void SetServiceState(std::uint32_t state) = 0;
  // COM module locks: a live object or server lock. The last unlock ends an application run.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

}  // namespace keldran
