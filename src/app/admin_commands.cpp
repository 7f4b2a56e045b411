// The administrator's commands that answer on the console: /Status, the component's health as
// the running host itself sees it, and /Check, the configuration read as a run reads it, with
// every problem named by its key.
#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include "app/host.h"
#include "install/service_installation.h"
#include "log/error_text.h"
#include "supervision/process.h"

namespace keldran {
namespace {

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "3 h 02 min 11 s", "4 min 05 s", "12 s".
std::string Duration(std::uint32_t seconds) {
  if (seconds >= 3600)
    return Format("%u h %02u min %02u s", seconds / 3600, seconds / 60 % 60, seconds % 60);
  if (seconds >= 60) return Format("%u min %02u s", seconds / 60, seconds % 60);
  return Format("%u s", seconds);
}

const char* StateName(std::uint32_t state) {
  switch (state) {
    case service_state::kStopped:
      return "stopped";
    case service_state::kStartPending:
      return "starting";
    case service_state::kStopPending:
      return "stopping";
    case service_state::kRunning:
      return "running";
    case service_state::kPaused:
      return "paused";
    default:
      return "in another state";
  }
}

// The keys of the Service section and whether each holds a number.
struct KnownKey {
  const char* name;
  bool number;
};
constexpr KnownKey kServiceKeys[] = {
    {"DataDir", false},
    {"LogDir", false},
    {"LogPre", false},
    {"GSDir", false},
    {"CtrlSrc", false},
    {"CtrlDoc", false},
    {"DeleteRegKeys", false},
    {"CommandLine", false},
    {"WorkingDir", false},
    {"AutoStart", true},
    {"Logon", false},
    {"Show", true},
    {"Debug", true},
    {"Trace", true},
    {"Timeout", true},
    // Ours.
    {"LogKeepDays", true},
    {"RestartBackoff", true},
    {"Recovery", false},
    {"DelayedStart", true},
    {"Priority", false},
    {"Affinity", false},
    {"StopExitCodes", false},
    {"CaptureOutput", true},
    {"OutputMaxMB", true},
    {"DumpKeep", true},
};

bool IsWholeNumber(const std::string& text) {
  std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

}  // namespace

void Host::Print(const std::string& text) {
  (void)platform.texts.WriteStandardStream(ISystemTexts::Stream::kOutput, text);
}

HResult Host::ReportStatus(const ComponentRegistration& registration) {
  Platform& p = platform;
  std::string out = "Component:   " + config.ServiceComp + "\r\n";
  if (!registration.idFound) {
    Print(out + "Registered:  no\r\n");
    return kStatusNotRunning;
  }
  out +=
      std::string("Registered:  ") +
      (registration.service ? "as a service (" + config.ServiceName + ")" : "as an application") +
      "\r\n";
  if (registration.service) {
    ScopedScHandle manager(p.services), handle(p.services);
    ServiceStatus state;
    Win32Error e = p.services.OpenManager(service_access::kManagerConnect, manager.put());
    if (e == 0)
      e = p.services.OpenService(manager.get(), config.ServiceName, service_access::kQueryStatus,
                                 handle.put());
    if (e == 0) e = p.services.QueryStatus(handle.get(), &state);
    out += "Service:     " +
           (e == 0 ? std::string(StateName(state.currentState))
                   : "unknown (" + errorText(p.texts, e, false) + ")") +
           "\r\n";
    // From the configuration: Windows can tell it, but Wine cannot read failure actions back.
    out += "Recovery:    " + RecoveryDescription(config.RecoveryDelays) + "\r\n";
  }

  std::unique_ptr<IRunningHost> running;
  if (Failed(p.com.FindInRunningObjectTable(config.ServiceID, &running)) || !running) {
    Print(out + "Host:        not running\r\n");
    return kStatusNotRunning;
  }
  std::string text;
  if (const HResult hr = running->QueryStatus(&text); Failed(hr)) {
    Print(out + "Host:        running, but it does not answer (" +
          errorText(p.texts, static_cast<std::uint32_t>(hr), false) + ")\r\n");
    return kStatusUnhealthy;
  }
  std::map<std::string, std::string> values;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    pos = end + 1;
  }
  auto number = [&](const char* name) {
    return static_cast<std::uint32_t>(std::strtoul(values[name].c_str(), nullptr, 10));
  };
  auto flag = [&](const char* name) { return values[name] == "1"; };
  out += "Host:        running\r\n";
  const bool clientRunning = flag("ClientRunning");
  const bool restarting = !values["RestartIn"].empty();
  if (restarting) {
    out += Format(
        "Client:      ended; started again in %u s (it keeps ending soon after its "
        "start)\r\n",
        number("RestartIn"));
  } else if (clientRunning) {
    const std::uint32_t restarts = number("Restarts");
    out += Format("Client:      process %u, running for %s, restarted %u time%s\r\n",
                  number("ProcessId"), Duration(number("RunSeconds")).c_str(), restarts,
                  restarts == 1 ? "" : "s");
  } else {
    out += "Client:      not running\r\n";
  }
  const std::uint32_t timeout = number("Timeout");
  const std::string limit = timeout == 0 ? "time-outs off" : Format("time-out %u s", timeout);
  out += values["HeartbeatAge"].empty()
             ? "Heartbeat:   none since the client started (" + limit + ")\r\n"
             : Format("Heartbeat:   %u s ago (%s)\r\n", number("HeartbeatAge"), limit.c_str());
  if (!values["Progress"].empty()) out += "Progress:    " + values["Progress"] + "\r\n";
  if (!values["OutputFile"].empty()) out += "Output:      " + values["OutputFile"] + "\r\n";
  if (!values["LastDump"].empty()) out += "Last dump:   " + values["LastDump"] + "\r\n";
  const char* state = !clientRunning     ? "client not running"
                      : restarting       ? "restarting"
                      : flag("Stopping") ? "stopping"
                      : flag("TimedOut") ? "timed out"
                      : flag("Paused")   ? "paused"
                                         : nullptr;
  Print(out + "State:       " + (state ? state : "healthy") + "\r\n");
  return state ? kStatusUnhealthy : kSOk;
}

HResult Host::CheckConfiguration() {
  Platform& p = platform;
  IFileSystem& files = p.files;
  std::vector<std::string> problems;
  auto problem = [&](const std::string& key, const std::string& text) {
    problems.push_back(key + ": " + text);
  };
  problems = loadProblems_;

  // Keys that the host does not know are ignored by a run: most often a misspelling.
  std::string section;
  files.GetProfileSection(config.IniFile, names::kIniSection, 32767, &section);
  for (std::size_t pos = 0; pos < section.size();) {
    const std::size_t end = section.find('\0', pos);
    const std::string entry = section.substr(pos, end == std::string::npos ? end : end - pos);
    pos = end == std::string::npos ? section.size() : end + 1;
    const std::string key = Trimmed(entry.substr(0, entry.find('=')));
    if (key.empty() || key[0] == ';') continue;
    const bool known =
        std::any_of(std::begin(kServiceKeys), std::end(kServiceKeys),
                    [&](const KnownKey& k) { return EqualsIgnoreCase(k.name, key); });
    if (!known) problem(key, "not a key of the [Service] section; a run ignores it");
  }
  // A number that is not one reads as 0 (or its leading digits): Timeout=abc turns the
  // watchdog off.
  for (const KnownKey& key : kServiceKeys) {
    if (!key.number) continue;
    std::string raw;
    files.GetProfileString(config.IniFile, std::string(names::kIniSection), std::string(key.name),
                           "", 260, &raw);
    raw = Trimmed(raw);
    if (!raw.empty() && !IsWholeNumber(raw)) {
      problem(key.name, "\"" + raw + "\" is not a whole number; a run reads it as " +
                            std::to_string(files.GetProfileInt(config.IniFile, names::kIniSection,
                                                               key.name, 0)));
    }
  }

  // The client program and its working folder, with the path macros as the launch expands them.
  Process macros(p);
  macros.SetWorkingDir(config.WorkingDir);
  const std::string program =
      files.PathUnquoteSpaces(files.PathRemoveArgs(macros.ExpandFileMacros(config.CommandLine)));
  // A bare program name is looked for on the PATH when the client starts.
  if (program.find('\\') != std::string::npos && !files.PathFileExists(program))
    problem("CommandLine", "the client program " + program + " does not exist");
  const std::uint32_t folder = files.GetFileAttributes(macros.BaseDir());
  if (folder == file_attribute::kInvalid || !(folder & file_attribute::kDirectory))
    problem("WorkingDir", "the working folder " + macros.BaseDir() + " does not exist");

  if (!config.LogDir.empty()) {
    // Where records would go: the folder itself, or the nearest one that exists above it.
    std::string where = config.LogDir;
    while (!files.PathFileExists(where) && where.find('\\') != std::string::npos)
      where = where.substr(0, where.rfind('\\'));
    const std::string probe = where + "\\keldran-check.tmp";
    ScopedFile file(files);
    const Win32Error e =
        files.CreateFile(probe, file_access::kGenericWrite, file_share::kNone,
                         file_creation::kCreateNew, file_attribute::kNormal, file.put());
    if (e != 0) {
      problem("LogDir", "records cannot be written in " + where + errorText(p.texts, e));
    } else {
      file.reset();
      (void)files.DeleteFile(p.texts.AnsiToWide(probe));
    }
  }
  if (!config.CtrlDoc.empty() &&
      files.GetFileAttributes(config.CtrlDoc) == file_attribute::kInvalid) {
    problem("CtrlDoc", "the control document " + config.CtrlDoc + " does not exist");
  }

  std::string out = config.IniFile + ", section [" + names::kIniSection + "]: ";
  if (problems.empty()) {
    Print(out + "no problems found\r\n");
    return kSOk;
  }
  out += Format("%u problem%s\r\n", static_cast<unsigned>(problems.size()),
                problems.size() == 1 ? "" : "s");
  for (const std::string& line : problems) out += "  " + line + "\r\n";
  Print(out);
  return kCheckFoundProblems;
}

}  // namespace keldran
