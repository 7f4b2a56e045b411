#pragma once
// The names of the host's IServiceStatus lines ("Name=value", CR LF after each). The host writes
// them and /Status of another process reads them back: both go by these names.

namespace keldran::status_line {

inline constexpr const char* kClientRunning = "ClientRunning";  // 1 or 0
inline constexpr const char* kProcessId = "ProcessId";
inline constexpr const char* kRunSeconds = "RunSeconds";
inline constexpr const char* kRestarts = "Restarts";          // starts after the first
inline constexpr const char* kHeartbeatAge = "HeartbeatAge";  // seconds; empty before the first
inline constexpr const char* kTimeout = "Timeout";            // seconds; 0 when time-outs are off
inline constexpr const char* kProgress = "Progress";          // the client's text, on one line
inline constexpr const char* kPaused = "Paused";
inline constexpr const char* kTimedOut = "TimedOut";
inline constexpr const char* kStopping = "Stopping";
inline constexpr const char* kConnected = "Connected";
inline constexpr const char* kDeathRestarts = "DeathRestarts";
inline constexpr const char* kTimeoutRestarts = "TimeoutRestarts";
inline constexpr const char* kClientRestarts = "ClientRestarts";
inline constexpr const char* kPings = "Pings";
inline constexpr const char* kTimeouts = "Timeouts";
inline constexpr const char* kLastExitCode = "LastExitCode";  // empty before the first end
inline constexpr const char* kStartTime = "StartTime";        // Unix seconds; empty with no client
inline constexpr const char* kOutputFile = "OutputFile";
inline constexpr const char* kLastDump = "LastDump";
inline constexpr const char* kRestartIn = "RestartIn";  // seconds; only while a restart waits

}  // namespace keldran::status_line
