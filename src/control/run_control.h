#pragma once
// What the IService calls and the tray ask of the run that hosts them. The service implements it.

#include <cstdint>

#include "platform/types.h"

namespace keldran {

class IRunControl {
 public:
  virtual ~IRunControl() = default;
  // Stops the host as the Service Control Manager's stop does: the client is told and given
  // time to end. Returns at once; a second request changes nothing.
  virtual void RequestStop() = 0;
  // Ends the run loop at once.
  virtual void RequestQuit() = 0;
  // Ends the run loop after a reported failure: the program then exits with E_FAIL, and a
  // service reports the reason as its service-specific exit code.
  virtual void FailRun(HResult reason) = 0;
  // Reports a state to the Service Control Manager when the host runs as a service.
  virtual void SetServiceState(std::uint32_t state) = 0;
  // The stopping client reported progress: the stop's checkpoint advances.
  virtual void ReportStopProgress() = 0;
  // COM module locks: a live object or server lock. The last unlock ends an application run.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

}  // namespace keldran
