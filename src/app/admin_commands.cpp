// The administrator's commands that answer on the console: /Status, the component's health as
// the running host itself sees it, and /Check, the configuration read as a run reads it, with
// every problem named by its key.
#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

#include "app/host.h"
#include "app/status_report.h"
#include "config/ini_keys.h"
#include "install/service_installation.h"
#include "log/error_text.h"
#include "log/text.h"
#include "supervision/process.h"

namespace keldran {
namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
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
  // The JSON form is UTF-8 throughout; the text form stays in the ANSI code page, as the
  // console's other output does.
  const bool json = flags.JsonRequested;
  auto own = [&](const std::string& ansi) {
    return json ? Utf8FromWide(p.texts.AnsiToWide(ansi)) : ansi;
  };
  StatusReport report;
  report.component = own(config.ServiceComp);
  report.registered = registration.idFound;
  report.service = registration.idFound && registration.service;
  for (const auto& variable : config.Environment)
    report.environmentNames.push_back(own(variable.first));
  if (report.service) {
    report.serviceName = own(config.ServiceName);
    ScopedScHandle manager(p.services), handle(p.services);
    ServiceStatus state;
    Win32Error e = p.services.OpenManager(service_access::kManagerConnect, manager.put());
    if (e == 0)
      e = p.services.OpenService(manager.get(), config.ServiceName, service_access::kQueryStatus,
                                 handle.put());
    if (e == 0) e = p.services.QueryStatus(handle.get(), &state);
    report.serviceState = e == 0 ? StateName(state.currentState) : "unknown";
    if (e != 0) report.serviceError = own(errorText(p.texts, e, false));
    // From the configuration: Windows can tell it, but Wine cannot read failure actions back.
    report.recoveryDelays = config.RecoveryDelays;
  }

  std::unique_ptr<IRunningHost> running;
  if (report.registered && Succeeded(p.com.FindInRunningObjectTable(config.ServiceID, &running)) &&
      running) {
    report.hostRunning = true;
    WideString text;
    if (const HResult hr = running->QueryStatus(&text); Failed(hr)) {
      report.hostError = own(errorText(p.texts, static_cast<std::uint32_t>(hr), false));
    } else {
      report.host = ParseHostStatus(json ? Utf8FromWide(text) : p.texts.WideToAnsi(text));
    }
  }
  Print(json ? StatusJson(report) : StatusText(report));
  return HealthOf(report).exitCode;
}

std::vector<std::string> Host::ConfigurationProblems() {
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
  for (const std::string& key : UnknownServiceKeys(section))
    problem(key, "not a key of the [Service] section; a run ignores it");
  // A number that is not one reads as 0 (or its leading digits): Timeout=abc turns the
  // watchdog off.
  for (const IniKey& key : kServiceKeys) {
    if (key.kind != IniValue::kNumber) continue;
    std::string raw;
    files.GetProfileString(config.IniFile, std::string(names::kIniSection), std::string(key.name),
                           "", kPathBuffer, &raw);
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
  if (!config.MetricsFile.empty()) {
    const std::string folder = files.PathRemoveFileSpec(config.MetricsFile);
    const std::uint32_t attributes = files.GetFileAttributes(folder);
    // The log folder is made with its parents before the first record, so before the first
    // write of the metrics file: an installation names it before it exists.
    const bool logFolder = !config.LogDir.empty() && EqualsIgnoringCase(folder, config.LogDir);
    if (!logFolder &&
        (attributes == file_attribute::kInvalid || !(attributes & file_attribute::kDirectory)))
      problem("MetricsFile", "the folder " + folder + " does not exist");
  }
  // A number out of range counts as the default (one that is no number is named above).
  std::string interval;
  files.GetProfileString(config.IniFile, std::string(names::kIniSection), "MetricsInterval", "",
                         260, &interval);
  interval = Trimmed(interval);
  if (!interval.empty() && IsWholeNumber(interval)) {
    const long long seconds = std::strtoll(interval.c_str(), nullptr, 10);
    if (seconds < 1 || seconds > kMaxMetricsInterval) {
      problem("MetricsInterval",
              Format("%lld is not a number of seconds from 1 to %d; a run uses %d", seconds,
                     kMaxMetricsInterval, kDefaultMetricsInterval));
    }
  }
  if (!config.CtrlDoc.empty() &&
      files.GetFileAttributes(config.CtrlDoc) == file_attribute::kInvalid) {
    problem("CtrlDoc", "the control document " + config.CtrlDoc + " does not exist");
  }
  return problems;
}

HResult Host::CheckConfiguration() {
  const std::vector<std::string> problems = ConfigurationProblems();
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
