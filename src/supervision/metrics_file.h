#pragma once
// The metrics file: the host's and its client's figures in Prometheus's text format, for a
// collector that reads a folder of *.prom files (windows_exporter's textfile collector). The
// running host rewrites it every MetricsInterval seconds and at the first watchdog tick after a
// change of the client's state, and once more when the run ends, saying that the host is down.
//
// Threads: the run-loop thread only (the watchdog tick and the end of the run).

#include <cstdint>
#include <optional>
#include <string>

#include "config/configuration.h"
#include "log/component_log.h"
#include "platform/platform.h"
#include "supervision/supervisor.h"

namespace keldran {

// What one write of the file tells.
struct MetricsSample {
  std::string component;  // UTF-8
  bool hostUp = false;
  Supervisor::Status client;
  std::uint64_t recordsDropped = 0;  // by the log queue since the host started
};

// The file's text: UTF-8 with LF line ends (Prometheus's parser refuses a CR), each family with
// its HELP and TYPE lines, every series labelled with the component.
std::string MetricsText(const MetricsSample& sample);

class MetricsFile {
 public:
  // A write that fails this many times in a row (one try a tick) is reported, once per run. A
  // reader that holds the file for a moment only delays the next write.
  static constexpr unsigned kFailuresReported = 3;

  MetricsFile(Platform& platform, ComponentLog& events, const Configuration& config,
              const Supervisor& supervisor);
  MetricsFile(const MetricsFile&) = delete;
  MetricsFile& operator=(const MetricsFile&) = delete;

  // Each watchdog tick: writes when the client's state changed, the interval has passed or the
  // last write failed.
  void Tick();
  // The run is over: the file says that the host is down.
  void HostEnded();

 private:
  void Write(bool hostUp, const Supervisor::Status& status);
  // The temporary file written and moved over the file; the error of the first step that failed.
  [[nodiscard]] Win32Error Replace(const std::string& text);

  Platform& platform_;
  ComponentLog& events_;
  const Configuration& config_;
  const Supervisor& supervisor_;
  std::optional<std::uint32_t> writtenChanges_;  // the state last written; none: nothing yet
  std::uint32_t writtenAt_ = 0;                  // tick count of the last write
  unsigned failures_ = 0;                        // writes failed in a row
  bool reported_ = false;
};

}  // namespace keldran
