#pragma once
// The host as the Service Control Manager and the run loop see it: the start operation, the
// service main function, status reports, the control handler, and the run loop that publishes
// the host, runs the watchdog, the window and the client, and takes them down again.
//
// Threads: the main thread runs StartRun (and, in service mode, the dispatcher and the control
// handler); the run loop runs on the service thread (service mode) or the main thread. The
// control handler only records a stop and wakes the run loop, which carries it out: Windows
// expects a handler to return at once. The status record, the stop's wait, the run's outcome,
// the module locks and the run thread's id are shared by both and kept under lock_.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "config/configuration.h"
#include "control/run_control.h"
#include "log/component_log.h"
#include "platform/platform.h"
#include "supervision/metrics_file.h"
#include "supervision/supervisor.h"
#include "tray/service_win.h"

namespace keldran {

// Creates the CService object that the run loop publishes in the running-object table.
using ServiceObjectFactory = std::function<ObjectRef()>;

class ServiceHost final : public IRunControl {
 public:
  // How long a stop waits for the client: a stop, a preshutdown (the registered preshutdown time
  // less the teardown's share), and a plain shutdown (Windows gives services about 20 s then).
  static constexpr std::uint32_t kStopWaitMs = service_timing::kStopWaitMs;
  static constexpr std::uint32_t kTeardownShareMs = 10000;
  static constexpr std::uint32_t kPreshutdownWaitMs =
      service_timing::kPreshutdownTimeoutMs - kTeardownShareMs;
  static constexpr std::uint32_t kShutdownWaitMs = 20000;
  // While a stop waits, its checkpoint advances at least this often; the wait hint leaves the
  // Service Control Manager room for a run loop that is busy for a moment.
  static constexpr std::uint32_t kCheckpointMs = 1000;
  static constexpr std::uint32_t kStopWaitHintMs = 5000;
  // /Stop waits for the stopped host to leave the running-object table this long beyond the stop
  // wait, looking every kStopPollMs.
  static constexpr std::uint32_t kStopCommandMarginMs = 15000;
  static constexpr std::uint32_t kStopPollMs = 100;
  // The thread message that wakes the run loop for a recorded stop.
  static constexpr std::uint32_t kStopMessage = window_message::kApp + 1;
  static constexpr std::uint32_t kWatchdogPeriodMs = static_cast<std::uint32_t>(kWatchdogTickMs);
  // The records still queued at the end get this long without progress before the service
  // reports itself stopped (after that report the process may be ended).
  static constexpr std::uint32_t kFinalFlushMs = 5000;

  ServiceHost(Platform& platform, ComponentLog& events, const Configuration& config,
              Supervisor& supervisor, MetricsFile& metrics, CServiceWin& window,
              ServiceObjectFactory objectFactory);
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // The run, as a service or an application (or the stop of a running host, with /Stop).
  // runAsService is the start-up routine's conclusion; a dispatcher that cannot start clears it.
  void StartRun(bool runAsService, bool stopRequested);
  void ServiceMain();
  // The control handler: returns at once; a stop, preshutdown or shutdown is carried out by the
  // run loop.
  Win32Error Handler(std::uint32_t control);
  void Run();
  [[nodiscard]] bool RegisterInRot();
  // Looks up a host of this component in the running-object table; false when the lookup fails
  // (reported). *host is empty when none runs.
  [[nodiscard]] bool FindRunningHost(std::unique_ptr<IRunningHost>* host);

  // IRunControl
  void RequestStop() override;
  void RequestQuit() override;
  void FailRun(HResult reason) override;
  void SetServiceState(std::uint32_t state) override;
  void ReportStopProgress() override;
  void Lock() override;
  void Unlock() override;

  // The outcome: whether a reported failure ended the run, and its code (the failing call's
  // HRESULT where there is one, else E_FAIL); a service reports it to the Service Control
  // Manager as its service-specific exit code.
  bool runFailed() const;
  HResult runResult() const;
  bool runAsService() const { return runAsService_; }
  ServiceStatus status() const;

 private:
  // Records a stop (client event code 1 or 5) with its wait, reports it pending and wakes the
  // run loop; a later stop changes nothing.
  void BeginStop(std::uintptr_t code, std::uint32_t waitMs);
  // Run-loop thread: carries out a recorded stop that has not begun: tells the client and waits
  // for it to end while serving messages (the client's calls among them), advancing the stop's
  // checkpoint. True when it ran.
  bool CarryOutStop();
  // True when the client ended within the wait.
  bool WaitServingMessages(std::uint32_t waitMs);
  // The steps of Run.
  // The watchdog's 1-s timer; false (reported, the run failed) when it cannot be set.
  [[nodiscard]] bool StartWatchdog();
  // The service window, or a warning that the host runs without it.
  void CreateServiceWindow();
  [[nodiscard]] bool SecureCom();
  void Serve();
  // What a tick or a client's end leads to.
  void Act(TickOutcome outcome);
  void TearDown();
  // Marks the run failed without ending it (the first failure's code is kept).
  void MarkFailed(HResult reason);
  // The last report of a service: stopped, with the run's outcome.
  void ReportStopped();
  // Reports the status record (service mode only).
  void ReportLocked() REQUIRES(*lock_);
  // /Stop: asks the running host to stop and waits until it has left the table.
  void StopRunningHost(std::unique_ptr<IRunningHost> host);

  Platform& platform_;
  ComponentLog& events_;
  const Configuration& config_;
  Supervisor& supervisor_;
  MetricsFile& metrics_;
  CServiceWin& window_;
  ServiceObjectFactory objectFactory_;

  // Written before a second thread exists (the dispatcher's start may clear it).
  bool runAsService_ = false;

  std::unique_ptr<ILock> lock_;
  ServiceStatus status_ GUARDED_BY(*lock_);
  ServiceStatusHandle statusHandle_ GUARDED_BY(*lock_);
  // STOP_PENDING has gone out: no other state but STOPPED follows.
  bool stopReported_ GUARDED_BY(*lock_) = false;
  std::uint32_t stopWaitMs_ GUARDED_BY(*lock_) = 0;
  bool stopBegun_ GUARDED_BY(*lock_) = false;  // the run loop has taken up the recorded stop
  bool failed_ GUARDED_BY(*lock_) = false;
  HResult result_ GUARDED_BY(*lock_) = kSOk;
  std::uint32_t runThreadId_ GUARDED_BY(*lock_) = 0;
  int moduleLocks_ GUARDED_BY(*lock_) = 0;

  // Run-loop thread only.
  std::uint32_t rotCookie_ = 0;
  ObjectRef serviceObject_;
};

}  // namespace keldran
