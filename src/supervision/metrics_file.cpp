#include "supervision/metrics_file.h"

#include "log/error_text.h"
#include "log/text.h"

namespace keldran {
namespace {

// A label value as the text format quotes it.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

class Families {
 public:
  explicit Families(const std::string& component)
      : labels_("component=\"" + LabelValue(component) + "\"") {}
  void Family(const char* name, const char* type, const char* help) {
    name_ = name;
    text_ += Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
  }
  // One series of the current family; extra labels as written in the braces.
  void Sample(const std::string& value, const std::string& extra = std::string()) {
    text_ += name_ + "{" + labels_ + (extra.empty() ? "" : "," + extra) + "} " + value + "\n";
  }
  const std::string& text() const { return text_; }

 private:
  std::string labels_;
  std::string name_;
  std::string text_;
};

std::string Number(std::uint64_t value) { return std::to_string(value); }

}  // namespace

std::string MetricsText(const MetricsSample& sample) {
  const Supervisor::Status& c = sample.client;
  // The client's process runs from its start until the host sees it end.
  const bool running = sample.hostUp && c.startTime.has_value();
  Families f(sample.component);
  f.Family("keldran_host_up", "gauge", "1 while the host runs, 0 once it has ended.");
  f.Sample(sample.hostUp ? "1" : "0");
  f.Family("keldran_client_running", "gauge", "1 while the client's process runs.");
  f.Sample(running ? "1" : "0");
  f.Family("keldran_client_restarts_total", "counter",
           "Restarts of the client: it died, it was killed for its silence, or it asked.");
  f.Sample(Number(c.deathRestarts), "reason=\"death\"");
  f.Sample(Number(c.timeoutRestarts), "reason=\"timeout\"");
  f.Sample(Number(c.clientRestarts), "reason=\"client\"");
  f.Family("keldran_client_timeouts_total", "counter",
           "Heartbeat time-outs of the client that were reported.");
  f.Sample(Number(c.timeouts));
  f.Family("keldran_client_pings_total", "counter",
           "Pings posted to the client while its heartbeat was overdue.");
  f.Sample(Number(c.pings));
  f.Family("keldran_client_heartbeat_age_seconds", "gauge",
           "Seconds since the client's last heartbeat; absent before its first.");
  if (sample.hostUp && c.heartbeatAgeMs)
    f.Sample(Format("%u.%03u", *c.heartbeatAgeMs / 1000, *c.heartbeatAgeMs % 1000));
  f.Family("keldran_client_start_time_seconds", "gauge",
           "Start of the running client's process, in seconds since 1970.");
  if (running) f.Sample(std::to_string(*c.startTime));
  f.Family("keldran_client_last_exit_code", "gauge",
           "Exit code of the last client process that ended.");
  if (c.lastExitCode) f.Sample(Number(*c.lastExitCode));
  f.Family("keldran_log_records_dropped_total", "counter",
           "Log records dropped because the queue to the log file was full.");
  f.Sample(Number(sample.recordsDropped));
  f.Family("keldran_build_info", "gauge", "The host's version, as a label; always 1.");
  f.Sample("1", std::string("version=\"") + names::kLibVersion + "\"");
  return f.text();
}

MetricsFile::MetricsFile(Platform& platform, ComponentLog& events, const Configuration& config,
                         const Supervisor& supervisor)
    : platform_(platform), events_(events), config_(config), supervisor_(supervisor) {}

void MetricsFile::Tick() {
  if (config_.MetricsFile.empty()) return;
  const Supervisor::Status status = supervisor_.GetStatus();
  const std::uint32_t now = platform_.clock.TickCount();
  const auto interval = static_cast<std::uint32_t>(config_.MetricsInterval) * 1000;
  // A tick may come a little early: a write due within half a tick is made now.
  if (writtenChanges_ == status.changes && failures_ == 0 &&
      now - writtenAt_ + kWatchdogTickMs / 2 < interval)
    return;
  Write(true, status);
}

void MetricsFile::HostEnded() {
  if (config_.MetricsFile.empty()) return;
  Write(false, supervisor_.GetStatus());
}

void MetricsFile::Write(bool hostUp, const Supervisor::Status& status) {
  MetricsSample sample;
  sample.component = Utf8FromWide(platform_.texts.AnsiToWide(config_.ServiceComp));
  sample.hostUp = hostUp;
  sample.client = status;
  sample.recordsDropped = events_.log().recordsDropped();
  writtenChanges_ = status.changes;
  writtenAt_ = platform_.clock.TickCount();
  const Win32Error e = Replace(MetricsText(sample));
  if (e == 0) {
    failures_ = 0;
    return;
  }
  // The last write of a run cannot wait for another try.
  if (++failures_ < kFailuresReported && hostUp) return;
  if (reported_) return;
  reported_ = true;
  const std::string text = "The metrics file " + config_.MetricsFile +
                           " cannot be written; the host runs on without it" +
                           errorText(platform_.texts, e);
  events_.logWarning(category::kRun, event::kText, text.c_str());
}

Win32Error MetricsFile::Replace(const std::string& text) {
  IFileSystem& files = platform_.files;
  // In the file's own folder, so that the move is a rename; the collector reads only *.prom.
  const std::string temporary = config_.MetricsFile + ".tmp";
  Win32Error e;
  {
    ScopedFile file(files);
    e = files.CreateFile(temporary, file_access::kGenericWrite, file_share::kNone,
                         file_creation::kCreateAlways, file_attribute::kNormal, file.put());
    if (e != 0) return e;
    std::uint32_t written = 0;
    const auto size = static_cast<std::uint32_t>(text.size());
    e = files.WriteFile(file.get(), text.data(), size, &written);
    if (e == 0 && written != size) e = win32_error::kHandleDiskFull;
  }
  if (e == 0) e = files.MoveFileReplacing(temporary, config_.MetricsFile);
  if (e != 0) (void)files.DeleteFile(platform_.texts.AnsiToWide(temporary));
  return e;
}

}  // namespace keldran
