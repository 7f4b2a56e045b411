#pragma once
// What /Status tells, as one value: the component's registration and service, and the running
// host's own account of its client (its IServiceStatus lines). The text for people and the JSON
// object for scripts are both written from it, and its health gives the exit code.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace keldran {

// The running host's answer, from its "Name=value" lines; a missing line reads as 0 or empty.
struct HostStatus {
  bool clientRunning = false;
  std::uint32_t processId = 0;
  std::uint32_t runSeconds = 0;
  std::uint32_t restarts = 0;  // every start after the first, whatever the reason
  std::uint32_t deathRestarts = 0;
  std::uint32_t timeoutRestarts = 0;
  std::uint32_t clientRestarts = 0;
  std::uint32_t pings = 0;
  std::uint32_t timeouts = 0;
  std::optional<std::uint32_t> heartbeatAge;  // seconds; none: no heartbeat yet
  std::uint32_t timeout = 0;                  // seconds; 0: time-outs off
  std::string progress;
  bool paused = false;
  bool timedOut = false;
  bool stopping = false;
  bool connected = false;
  std::optional<std::uint32_t> restartIn;  // seconds: the client ended and waits for its restart
  std::optional<std::uint32_t> lastExitCode;
  std::optional<std::int64_t> startTime;  // Unix seconds of the running client's start
  std::string outputFile;
  std::string lastDump;
};
HostStatus ParseHostStatus(const std::string& lines);

struct StatusReport {
  std::string component;
  bool registered = false;
  bool service = false;  // registered as the Windows service serviceName
  std::string serviceName;
  std::string serviceState;  // "running", "stopped", ... or "unknown" (serviceError says why)
  std::string serviceError;
  std::vector<std::uint32_t> recoveryDelays;  // as configured: Wine cannot read them back
  // The names that [Environment] adds to the client's environment; their values are never
  // shown, since they may hold secrets.
  std::vector<std::string> environmentNames;
  bool hostRunning = false;
  std::string hostError;           // the host runs but does not answer: why
  std::optional<HostStatus> host;  // its answer
};

struct Health {
  const char* state;  // "healthy", "not running", "timed out", ...
  HResult exitCode;   // 0 healthy, 1 not registered or not running, 2 unhealthy
};
Health HealthOf(const StatusReport& report);

// Lines of "Name:" and value, CR LF after each.
std::string StatusText(const StatusReport& report);
// One JSON object on one line, CR LF after it. Its strings are taken as UTF-8 and written in
// ASCII, every other character as a \u escape, so that the output reads the same whatever code
// page a console or PowerShell decodes it with. Every field is always there, null where there
// is no value.
std::string StatusJson(const StatusReport& report);

}  // namespace keldran
