#pragma once
// The host as the Service Control Manager and the run loop see it: the start operation, the
// service main function, status reports, the control handler, and the run loop that publishes
// the host, runs the watchdog, the window and the client, and takes them down again.
//
// Threads: the main thread runs StartRun (and, in service mode, the dispatcher and the control
// handler); the run loop runs on the service thread (service mode) or the main thread. The
// status record, the stop event flag, the module locks and the run thread's id are shared by
// both and kept under lock_.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "config/configuration.h"
#include "control/run_control.h"
#include "log/component_log.h"
#include "platform/platform.h"
#include "supervision/supervisor.h"
#include "tray/service_win.h"

namespace keldran {

// Creates the CService object that the run loop publishes in the running-object table.
using ServiceObjectFactory = std::function<ObjectRef()>;

class ServiceHost final : public IRunControl {
 public:
  static constexpr std::uint32_t kStopWaitMs = 30000;
  static constexpr std::uint32_t kShutdownWaitMs = 20000;
  static constexpr std::uint32_t kWatchdogPeriodMs = Supervisor::kTickPeriodMs;

  ServiceHost(Platform& platform, ComponentLog& events, const Configuration& config,
              Supervisor& supervisor, CServiceWin& window, ServiceObjectFactory objectFactory);
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // The run, as a service or an application (or the stop of a running host, with /Stop).
  // runAsService is the start-up routine's conclusion; a dispatcher that cannot start clears it.
  void StartRun(bool runAsService, bool stopRequested);
  void ServiceMain();
  void Handler(std::uint32_t control);
  void Run();
  [[nodiscard]] bool RegisterInRot();
  // Looks up a host of this component in the running-object table; false when the lookup fails
  // (reported). *host is empty when none runs.
  [[nodiscard]] bool FindRunningHost(std::unique_ptr<IRunningHost>* host);

  // IRunControl
  void RequestQuit() override;
  void FailRun() override;
  void SetServiceState(std::uint32_t state) override;
  void Lock() override;
  void Unlock() override;

  // The outcome: the status record's Win32 exit code, and whether a reported failure ended the
  // run.
  std::uint32_t win32ExitCode() const;
  bool runFailed() const { return runFailed_; }
  bool runAsService() const { return runAsService_; }
  ServiceStatus status() const;

 private:
  void EndClientAndQuit(std::uintptr_t code, std::uint32_t waitMs);
  // The stop's wait on the run-loop thread: messages (the client's calls among them) are
  // dispatched until the client ends or the time is up.
  void WaitServingMessages(std::uint32_t waitMs);
  bool OnRunThread() const;

  Platform& platform_;
  ComponentLog& events_;
  const Configuration& config_;
  Supervisor& supervisor_;
  CServiceWin& window_;
  ServiceObjectFactory objectFactory_;

  // Written before a second thread exists (the dispatcher's start may clear it).
  bool runAsService_ = false;
  std::atomic<bool> runFailed_{false};

  std::unique_ptr<ILock> lock_;
  ServiceStatus status_;
  ServiceStatusHandle statusHandle_;
  bool stopEventPending_ = true;  // the stop event is written once per process
  std::uint32_t runThreadId_ = 0;
  int moduleLocks_ = 0;

  // Run-loop thread only.
  std::uint32_t rotCookie_ = 0;
  ObjectRef serviceObject_;
};

}  // namespace keldran
