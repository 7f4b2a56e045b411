#pragma once
// The supervisor: the one owner of the client process and of everything the host knows about
// it — heartbeats and their time-out, the progress text, pause, the time-out report, the
// client's window, the file to delete on a time-out — and of the settings that change while the
// host runs (Show, Debug, Timeout, which start as configured). The IService calls, the watchdog
// tick, the tray and the stop path reach that state only through its operations.
//
// Threads: the run-loop thread runs launches, watchdog ticks, IService calls and the tray; the
// service control handler calls BeginStop, the waits and EndRun from the dispatcher's thread.
// Every field below lock_ is read and written under it (GUARDED_BY); the lock is never held while
// logging, posting a notice or waiting on the client (EXCLUDES on what does so).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/configuration.h"
#include "log/component_log.h"
#include "log/notices.h"
#include "output/output_capture.h"
#include "platform/platform.h"
#include "supervision/client_events.h"
#include "supervision/process.h"
#include "supervision/watchdog_decision.h"

namespace keldran {

// What the run must do after a watchdog tick.
enum class TickOutcome {
  kGoOn,
  kEndRun,   // the client ended with an exit code that says it is done: the run ends cleanly
  kFailRun,  // the client could not be started again: the run ends on that failure
};

class Supervisor {
 public:
  // A stop tells a client with a window and gives it this long before it asks the way the
  // console and the desktop ask (Ctrl+Break, WM_CLOSE); a client without a window is asked at
  // once.
  static constexpr std::uint32_t kStopGraceMs = 10000;
  // The state lock's spin count.
  static constexpr std::uint32_t kSpinCount = 4000;
  // A client killed for silence waits this long at most for its minidump (Wine 8 takes 2 to 3 s
  // for one; Windows well under one).
  static constexpr std::uint32_t kDumpWaitMs = 10000;

  // beforeLaunch runs before every start of the client (the registry keys that the component
  // names are deleted there).
  Supervisor(Platform& platform, ComponentLog& events, INotices& notices,
             const Configuration& config, const RunFlags& flags,
             std::function<void()> beforeLaunch);
  Supervisor(const Supervisor&) = delete;
  Supervisor& operator=(const Supervisor&) = delete;

  // ---- The run (run-loop thread) --------------------------------------------------------------
  // Before the first start: the client runs in the configured working directory.
  void PrepareRun();
  // The control document is read-only while the host runs as a service; false when that cannot
  // be arranged (reported).
  [[nodiscard]] bool ApplyCtrlDocAttribute(bool runAsService);
  // Starts the client: a fresh supervision state, its parameters, the registry keys deleted.
  // False when the start failed (reported); true also when a stop under way forbids the start.
  [[nodiscard]] bool LaunchClient() EXCLUDES(*lock_);
  // The once-a-second check.
  [[nodiscard]] TickOutcome WatchdogTick() EXCLUDES(*lock_);
  // The run loop saw the client's process end: a death is handled at once (started again, or
  // after its pause; at most one start a second).
  [[nodiscard]] TickOutcome OnClientEnded() EXCLUDES(*lock_);
  // A restart whose pause is over is carried out.
  [[nodiscard]] TickOutcome RestartIfDue() EXCLUDES(*lock_);
  // What the run loop waits on besides its messages: the client whose end is still to be heard
  // of (none while a stop is under way or a restart waits), and how long until a waiting restart
  // is due (kInfinite: none waits).
  SharedProcessHandle WatchedClient() const;
  std::uint32_t MillisecondsToRestart() const;
  // Run's shutdown: the client is killed if it still runs.
  void KillClient() EXCLUDES(*lock_);

  // ---- IService (run-loop thread) -------------------------------------------------------------
  // The heartbeat of Running, Progress (running) and Pause (not running). Returns whether the
  // client was paused before.
  bool SetRunningTS(bool running, const WideString* progress, std::uint32_t timeout)
      EXCLUDES(*lock_);
  // The client's window; true on the current client's first Connect outside a stop (the service
  // then reports itself running). A stop under way is passed on to the window at once.
  bool Connect(WindowHandle window) EXCLUDES(*lock_);
  // Kills and starts the client again, unless a stop is under way. False when the start failed.
  [[nodiscard]] bool Restart() EXCLUDES(*lock_);
  void SetTimeoutFile(const WideString& file);
  void SetVisible(bool visible);
  void SetCanDebug(bool canDebug);

  // ---- The tray (run-loop thread) -------------------------------------------------------------
  // Offering the tray's debug command switches pings and time-outs off.
  void EnterDebugMode();
  void PostToClient(std::uintptr_t code) EXCLUDES(*lock_);
  bool ClientLaunched() const;
  bool CanDebug() const;
  bool Debugging() const;
  bool Visible() const;

  // ---- The status query (run-loop thread) -----------------------------------------------------
  struct Status {
    bool clientRunning = false;  // the client is meant to run (false once the run ends)
    std::uint32_t processId = 0;
    std::uint32_t runMs = 0;                      // since the current client started
    std::uint32_t starts = 0;                     // client starts in this run
    std::optional<std::uint32_t> heartbeatAgeMs;  // none: no heartbeat since the start
    std::uint32_t timeoutSeconds = 0;             // in force now; 0: time-outs are off
    std::optional<WideString> progress;           // none: no heartbeat has stored one in this run
    bool paused = false;
    bool timedOut = false;
    bool stopping = false;
    bool connected = false;
    std::optional<std::uint32_t> restartInMs;  // the client ended; its restart waits this long
    // Counted over the run: restarts of a client that died (counted when the watchdog notices
    // the death, before any back-off pause), of one killed for its silence, and asked for by the
    // client's Restart call; pings posted; time-outs reported.
    std::uint32_t deathRestarts = 0;
    std::uint32_t timeoutRestarts = 0;
    std::uint32_t clientRestarts = 0;
    std::uint32_t pings = 0;
    std::uint32_t timeouts = 0;
    std::optional<std::uint32_t> lastExitCode;  // of the last client that ended; none yet
    std::optional<std::int64_t> startTime;      // Unix seconds; none: no client process runs
    // The captured output of the client and its last crash dump; empty when there is none.
    std::string outputFile;
    std::string lastDump;
    // Grows with every change of the client's state (started, ended, killed, connected, timed
    // out, stopping): a reader that saw another value has something new to tell.
    std::uint32_t changes = 0;
  };
  Status GetStatus() const;

  // ---- Stop and shutdown ----------------------------------------------------------------------
  // Any thread: from now on no client is started and the watchdog leaves the client alone (its
  // end is the stop's doing). Code 1 is a stop, 5 a shutdown. True for the first stop.
  bool BeginStop(std::uintptr_t code);
  // Run-loop thread: tells a connected client of the stop under way (one that connects later is
  // told then); false when the client has no window to be told.
  bool NotifyStop() EXCLUDES(*lock_);
  // Run-loop thread: asks the client to end as the console and the desktop do: Ctrl+Break to
  // its console, WM_CLOSE to its windows; why says what led to it. One log record each.
  void AskClientToEnd(const char* why) EXCLUDES(*lock_);
  bool Stopping() const;
  // The client's process handle for a wait of the caller's own, or none.
  SharedProcessHandle ClientHandle() const;
  // The run is over: the run loop leaves at its next message.
  void EndRun();
  bool ClientRunning() const;

  Process& client() { return client_; }

 private:
  struct RunSettings {
    std::int32_t show;
    std::int32_t debug;
    std::int32_t timeout;
  };
  RunSettings Settings() const REQUIRES(*lock_);
  RunSettings& MutableSettings() REQUIRES(*lock_);
  // One log record of how the client's life ended: its process id, exit code and run time, the
  // last lines of its standard error (an end of its own) or its minidump (a kill).
  void LogClientEnd(bool killed, const std::string& dump = {}) EXCLUDES(*lock_);
  // A minidump of a client about to be killed for silence, the oldest beyond DumpKeep removed;
  // its path, or empty when none was written (reported).
  std::string DumpBeforeKill() EXCLUDES(*lock_);
  // The client's end as far as its output goes: ": last lines on standard error: a | b" or empty.
  std::string OutputTail() EXCLUDES(*lock_);
  // With RestartBackoff set, a client that ended soon after its start is started again only
  // after a pause that doubles with each such end, up to that many seconds; one that stayed up
  // starts the count again. True when the restart waits.
  bool DelayRestart(std::uint64_t now, std::uint64_t ranMs) EXCLUDES(*lock_);
  // The client's start-up: its show state, its environment (the host's, the configured
  // variables, then its parameters), a console of its own, its priority and processors.
  StartOptions ClientStartOptions(const std::string& parameters, std::uint16_t show) const;
  // The run's end that the client asked for with its exit code; false when the code does not
  // say it is done.
  bool EndsTheRun(std::uint32_t exitCode) const;
  // A client's end, heard of by the tick or the run loop: a clean end of the run, or a death.
  TickOutcome HandleClientEnd(std::uint64_t now, std::uint64_t ranMs) EXCLUDES(*lock_);
  TickOutcome Relaunch() EXCLUDES(*lock_);
  // What the watchdog sees of the client, and what it does about its decision.
  WatchdogView ViewForTick(std::uint64_t now) REQUIRES(*lock_);
  // ranMs: how long an ended client ran.
  TickOutcome Act(const WatchdogDecision& decision, std::uint64_t now, std::uint64_t ranMs)
      EXCLUDES(*lock_);
  TickOutcome KillForSilence(std::uint64_t now) EXCLUDES(*lock_);

  Platform& platform_;
  ComponentLog& events_;
  INotices& notices_;
  const Configuration& config_;
  const RunFlags& flags_;
  std::function<void()> beforeLaunch_;
  Process client_;
  OutputCapture output_;

  std::unique_ptr<ILock> lock_;
  bool clientRunning_ GUARDED_BY(*lock_) = false;
  bool clientLaunched_ GUARDED_BY(*lock_) = false;
  bool timedOut_ GUARDED_BY(*lock_) = false;
  bool connectedOnce_ GUARDED_BY(*lock_) = false;
  // 64-bit tick counts (milliseconds) from here on.
  // The client's last heartbeat, or the tick that started its clock.
  std::optional<std::uint64_t> lastHeartbeat_ GUARDED_BY(*lock_);
  std::optional<std::uint64_t> lastTick_ GUARDED_BY(*lock_);  // the watchdog's previous tick
  std::uint32_t heartbeatTimeout_ GUARDED_BY(*lock_) = 0;
  WideString progressText_ GUARDED_BY(*lock_);
  // A heartbeat has stored a progress value in this run.
  bool progressStored_ GUARDED_BY(*lock_) = false;
  bool paused_ GUARDED_BY(*lock_) = false;
  bool canDebug_ GUARDED_BY(*lock_) = false;
  WindowHandle clientWindow_ GUARDED_BY(*lock_) = 0;
  std::uint32_t clientEventMessage_ GUARDED_BY(*lock_) = 0;
  WideString timeoutFile_ GUARDED_BY(*lock_);
  std::optional<RunSettings> settings_ GUARDED_BY(*lock_);     // none: as configured
  std::optional<std::uintptr_t> stopCode_ GUARDED_BY(*lock_);  // a stop or shutdown is under way
  std::uint64_t startedAt_ GUARDED_BY(*lock_) = 0;  // tick count of the current client's start
  std::uint32_t starts_ GUARDED_BY(*lock_) = 0;     // client starts in this run
  bool endLogged_ GUARDED_BY(*lock_) = true;        // the current client's end has its record
  bool endHandled_ GUARDED_BY(*lock_) = false;      // the current client's end has been dealt with
  std::uint64_t backoffMs_ GUARDED_BY(*lock_) = 0;  // the pause before the last restart
  // Tick count: a restart waits until then.
  std::optional<std::uint64_t> restartAt_ GUARDED_BY(*lock_);
  bool unguardedReported_ GUARDED_BY(*lock_) = false;  // a client outside its job has been reported
  bool tuningReported_ GUARDED_BY(*lock_) = false;     // a priority or processors not set, reported
  std::int64_t startedAtTime_ GUARDED_BY(*lock_) = 0;  // Unix seconds of the current client's start
  std::uint32_t deathRestarts_ GUARDED_BY(*lock_) = 0;
  std::uint32_t timeoutRestarts_ GUARDED_BY(*lock_) = 0;
  std::uint32_t clientRestarts_ GUARDED_BY(*lock_) = 0;
  std::uint32_t pings_ GUARDED_BY(*lock_) = 0;
  std::uint32_t timeouts_ GUARDED_BY(*lock_) = 0;
  std::optional<std::uint32_t> lastExitCode_ GUARDED_BY(*lock_);
  std::uint32_t changes_ GUARDED_BY(*lock_) = 0;
  bool captureReported_ GUARDED_BY(*lock_) = false;  // output that could not be captured, reported
  std::string lastDump_ GUARDED_BY(*lock_);
};

}  // namespace keldran
