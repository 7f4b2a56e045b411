#include "app/status_report.h"

#include <cstdlib>
#include <map>

#include "control/status_lines.h"
#include "install/service_installation.h"
#include "log/error_text.h"

namespace keldran {
namespace {

// "3 h 02 min 11 s", "4 min 05 s", "12 s".
std::string Duration(std::uint32_t seconds) {
  if (seconds >= 3600)
    return Format("%u h %02u min %02u s", seconds / 3600, seconds / 60 % 60, seconds % 60);
  if (seconds >= 60) return Format("%u min %02u s", seconds / 60, seconds % 60);
  return Format("%u s", seconds);
}

// The code point of the UTF-8 sequence at text[*at], moving *at past it; a byte that starts no
// valid sequence is U+FFFD and is passed alone.
char32_t NextCodePoint(const std::string& text, std::size_t* at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(*at);
  const std::size_t length = lead < 0xC2   ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF5 ? 4
                                           : 0;
  if (length == 0 || *at + length > text.size()) {
    ++*at;
    return 0xFFFD;
  }
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(*at + i) & 0xC0) != 0x80) {
      ++*at;
      return 0xFFFD;
    }
    c = (c << 6) | (byte(*at + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c <= 0xDFFF)) {
    ++*at;
    return 0xFFFD;
  }
  *at += length;
  return c;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
      ++at;
    } else if (c == '\n') {
      out += "\\n";
      ++at;
    } else if (c == '\r') {
      out += "\\r";
      ++at;
    } else if (c == '\t') {
      out += "\\t";
      ++at;
    } else if (c >= 0x20 && c < 0x7F) {
      out += c;
      ++at;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      char32_t code = byte;
      if (byte < 0x80) {
        ++at;
      } else {
        code = NextCodePoint(text, &at);
      }
      if (code >= 0x10000) {
        code -= 0x10000;
        out += Format("\\u%04x", static_cast<unsigned>(0xD800 + (code >> 10)));
        code = 0xDC00 + (code & 0x3FF);
      }
      out += Format("\\u%04x", static_cast<unsigned>(code));
    }
  }
  return out + "\"";
}

// The members of one JSON object, in the order written.
class JsonObject {
 public:
  void Raw(const char* name, const std::string& value) {
    text_ += (text_.empty() ? "{" : ",") + JsonString(name) + ":" + value;
  }
  void String(const char* name, const std::optional<std::string>& value) {
    Raw(name, value ? JsonString(*value) : "null");
  }
  template <typename T>
  void Number(const char* name, const std::optional<T>& value) {
    Raw(name, value ? std::to_string(*value) : "null");
  }
  void Bool(const char* name, const std::optional<bool>& value) {
    Raw(name, value ? (*value ? "true" : "false") : "null");
  }
  std::string Close() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

template <typename T>
std::optional<T> If(bool present, T value) {
  return present ? std::optional<T>(value) : std::nullopt;
}

std::optional<std::string> NonEmpty(const std::string& text) { return If(!text.empty(), text); }

}  // namespace

HostStatus ParseHostStatus(const std::string& lines) {
  std::map<std::string, std::string> values;
  std::size_t pos = 0;
  while (pos < lines.size()) {
    std::size_t end = lines.find('\n', pos);
    if (end == std::string::npos) end = lines.size();
    std::string line = lines.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    pos = end + 1;
  }
  auto number = [&](const char* name) {
    return static_cast<std::uint32_t>(std::strtoul(values[name].c_str(), nullptr, 10));
  };
  auto optional = [&](const char* name) { return If(!values[name].empty(), number(name)); };
  auto flag = [&](const char* name) { return values[name] == "1"; };
  using namespace status_line;
  HostStatus s;
  s.clientRunning = flag(kClientRunning);
  s.processId = number(kProcessId);
  s.runSeconds = number(kRunSeconds);
  s.restarts = number(kRestarts);
  s.deathRestarts = number(kDeathRestarts);
  s.timeoutRestarts = number(kTimeoutRestarts);
  s.clientRestarts = number(kClientRestarts);
  s.pings = number(kPings);
  s.timeouts = number(kTimeouts);
  s.heartbeatAge = optional(kHeartbeatAge);
  s.timeout = number(kTimeout);
  s.progress = values[kProgress];
  s.paused = flag(kPaused);
  s.timedOut = flag(kTimedOut);
  s.stopping = flag(kStopping);
  s.connected = flag(kConnected);
  s.restartIn = optional(kRestartIn);
  s.lastExitCode = optional(kLastExitCode);
  if (!values[kStartTime].empty())
    s.startTime = std::strtoll(values[kStartTime].c_str(), nullptr, 10);
  s.outputFile = values[kOutputFile];
  s.lastDump = values[kLastDump];
  return s;
}

Health HealthOf(const StatusReport& report) {
  if (!report.registered) return {"not registered", 1};
  if (!report.hostRunning) return {"not running", 1};
  if (!report.host) return {"not answering", 2};
  const HostStatus& h = *report.host;
  const char* state = !h.clientRunning ? "client not running"
                      : h.restartIn    ? "restarting"
                      : h.stopping     ? "stopping"
                      : h.timedOut     ? "timed out"
                      : h.paused       ? "paused"
                                       : nullptr;
  return state ? Health{state, 2} : Health{"healthy", 0};
}

std::string StatusText(const StatusReport& report) {
  std::string out = "Component:   " + report.component + "\r\n";
  if (!report.registered) return out + "Registered:  no\r\n";
  out += std::string("Registered:  ") +
         (report.service ? "as a service (" + report.serviceName + ")" : "as an application") +
         "\r\n";
  if (report.service) {
    out += "Service:     " + report.serviceState +
           (report.serviceError.empty() ? "" : " (" + report.serviceError + ")") + "\r\n";
    out += "Recovery:    " + RecoveryDescription(report.recoveryDelays) + "\r\n";
  }
  if (!report.environmentNames.empty()) {
    std::string names;
    for (const std::string& name : report.environmentNames)
      names += (names.empty() ? "" : ", ") + name;
    out += "Environment: " + names + "\r\n";
  }
  if (!report.hostRunning) return out + "Host:        not running\r\n";
  if (!report.host)
    return out + "Host:        running, but it does not answer (" + report.hostError + ")\r\n";
  const HostStatus& h = *report.host;
  out += "Host:        running\r\n";
  if (h.restartIn) {
    out += Format(
        "Client:      ended; started again in %u s (it keeps ending soon after its "
        "start)\r\n",
        *h.restartIn);
  } else if (h.clientRunning) {
    out += Format("Client:      process %u, running for %s, restarted %u time%s\r\n", h.processId,
                  Duration(h.runSeconds).c_str(), h.restarts, h.restarts == 1 ? "" : "s");
  } else {
    out += "Client:      not running\r\n";
  }
  const std::string limit = h.timeout == 0 ? "time-outs off" : Format("time-out %u s", h.timeout);
  out += !h.heartbeatAge ? "Heartbeat:   none since the client started (" + limit + ")\r\n"
                         : Format("Heartbeat:   %u s ago (%s)\r\n", *h.heartbeatAge, limit.c_str());
  if (!h.progress.empty()) out += "Progress:    " + h.progress + "\r\n";
  if (!h.outputFile.empty()) out += "Output:      " + h.outputFile + "\r\n";
  if (!h.lastDump.empty()) out += "Last dump:   " + h.lastDump + "\r\n";
  return out + "State:       " + HealthOf(report).state + "\r\n";
}

std::string StatusJson(const StatusReport& report) {
  const Health health = HealthOf(report);
  const bool answered = report.host.has_value();
  const HostStatus& h = answered ? *report.host : HostStatus();
  // The client's process runs: it is meant to, and it is not between an end and its restart.
  const bool process = h.clientRunning && !h.restartIn;
  JsonObject o;
  o.String("component", report.component);
  o.Bool("registered", report.registered);
  o.String("registeredAs",
           If<std::string>(report.registered, report.service ? "service" : "application"));
  o.String("serviceName", If(report.service, report.serviceName));
  o.String("serviceState", If(report.service, report.serviceState));
  std::string delays;
  for (const std::uint32_t d : report.recoveryDelays)
    delays += (delays.empty() ? "" : ",") + std::to_string(d);
  o.Raw("recovery", report.service ? "[" + delays + "]" : "null");
  std::string names;
  for (const std::string& name : report.environmentNames)
    names += (names.empty() ? "" : ",") + JsonString(name);
  o.Raw("environment", "[" + names + "]");
  o.Bool("hostRunning", report.hostRunning);
  o.String("hostError", NonEmpty(report.hostError));
  o.String("state", std::string(health.state));
  o.Number("exitCode", std::optional<std::int32_t>(health.exitCode));
  o.Bool("clientRunning", If(answered, h.clientRunning));
  o.Number("clientPid", If(process, h.processId));
  o.Number("runSeconds", If(process, h.runSeconds));
  o.Number("clientStartTime", h.startTime);
  JsonObject restarts;
  restarts.Number("total", std::optional(h.restarts));
  restarts.Number("death", std::optional(h.deathRestarts));
  restarts.Number("timeout", std::optional(h.timeoutRestarts));
  restarts.Number("client", std::optional(h.clientRestarts));
  o.Raw("restarts", answered ? restarts.Close() : "null");
  o.Number("pings", If(answered, h.pings));
  o.Number("timeouts", If(answered, h.timeouts));
  o.Number("heartbeatAgeSeconds", h.heartbeatAge);
  o.Number("timeoutSeconds", If(answered, h.timeout));
  o.String("progress", NonEmpty(h.progress));
  o.Bool("paused", If(answered, h.paused));
  o.Bool("timedOut", If(answered, h.timedOut));
  o.Bool("stopping", If(answered, h.stopping));
  o.Bool("connected", If(answered, h.connected));
  o.Number("restartInSeconds", h.restartIn);
  o.Number("lastExitCode", h.lastExitCode);
  o.String("outputFile", NonEmpty(h.outputFile));
  o.String("lastDump", NonEmpty(h.lastDump));
  return o.Close() + "\r\n";
}

}  // namespace keldran
