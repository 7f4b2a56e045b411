#include "support_win32/host_run.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

constexpr char kServicesKey[] = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\";

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string FreshComponentName() {
  static std::atomic<unsigned> counter{0};
  char name[48];
  std::snprintf(name, sizeof name, "E2E%lX%u", static_cast<unsigned long>(GetCurrentProcessId()),
                counter++);
  return name;
}

}  // namespace

HostRun::HostRun() : component_(FreshComponentName()), agentPath_(AgentExePath()) {}

HostRun::~HostRun() {
  if (host_.IsRunning()) host_.Kill();
  // The client's job ends it with a killed host; should that fail, no instance may leak into
  // the next test either.
  for (DWORD pid : ClientPids(Out())) {
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
      TerminateProcess(process, 1);
      CloseHandle(process);
    }
  }
  if (registered_) (void)RunAgain("/UnReg /Quiet");
}

bool HostRun::Prepare(const HostSetup& setup, const std::string& iniPath) {
  if (dir_.path().empty()) return false;
  if (!setup.component.empty()) component_ = setup.component;
  if (!setup.agentPath.empty()) agentPath_ = setup.agentPath;
  iniPath_ = iniPath.empty() ? dir_.File("host.ini") : iniPath;

  // The client's files are named relative to its working directory, the scratch directory, to
  // keep the command line short: the INI reader holds 259 characters at most. (%DIR% would
  // name the working directory too, not the programs' directory.)
  std::string client = "\"" + ProgramPath("KeldranTestClient.exe") + "\" /script=first.txt";
  if (!setup.laterSteps.empty()) client += " /once=once.mark \"/later=" + setup.laterSteps + "\"";
  if (!setup.clientOptions.empty()) client += " " + setup.clientOptions;
  // Last, so that the value never ends in a quote, which the profile reader would strip.
  client += " /out=client.out";
  if (!setup.clientCommand.empty()) client = setup.clientCommand;

  std::string ini = "[Service]\r\n";
  ini += "LogDir=" + dir_.File("logs") + "\r\n";
  ini += "CommandLine=" + client + "\r\n";
  ini += "WorkingDir=" + dir_.path() + "\r\n";
  ini += "Timeout=" + std::to_string(setup.timeoutSeconds) + "\r\n";
  for (const std::string& line : setup.iniLines) ini += line + "\r\n";
  ini += setup.moreIni;
  if (!CreateDirectoryA(dir_.File("logs").c_str(), nullptr) || !WriteWholeFile(iniPath_, ini) ||
      !dir_.Write("first.txt", setup.script)) {
    return false;
  }
  registered_ = true;
  const RunResult registration =
      RunAgain(setup.asService ? "/RegService /Quiet" : "/RegApp /Quiet");
  serviceId_ =
      ReadRegString(HKEY_CLASSES_ROOT, kServicesKey + component_, "ServiceID").value_or("");
  return registration.started && registration.exitCode == 0 && !serviceId_.empty();
}

DWORD HostRun::Start(const std::string& arguments, const RunOptions& options) {
  return host_.Start("\"" + agentPath_ + "\" \"" + component_ + "@" + iniPath_ + "\" " + arguments,
                     options);
}

RunResult HostRun::RunAgain(const std::string& arguments, const RunOptions& options) const {
  return RunProgram("\"" + agentPath_ + "\" \"" + component_ + "@" + iniPath_ + "\" " + arguments,
                    options);
}

std::string HostRun::Log() const { return ReadTodaysLog(dir_.File("logs")); }

std::string HostRun::Out() const { return dir_.Read("client.out"); }

size_t HostRun::LogCount(const std::string& text) const { return CountOf(Log(), text); }

size_t HostRun::OutCount(const std::string& text) const { return CountOf(Out(), text); }

bool HostRun::WaitForLog(const std::string& text, DWORD ms) const {
  return WaitUntil([&] { return LogHas(text); }, ms);
}

bool HostRun::WaitForOut(const std::string& text, DWORD ms) const {
  return WaitUntil([&] { return OutHas(text); }, ms);
}

bool HostRun::WaitForOutCount(const std::string& text, size_t count, DWORD ms) const {
  return WaitUntil([&] { return OutCount(text) >= count; }, ms);
}

// ---- The client's out file -------------------------------------------------------------------

std::vector<std::string> OutLines(const std::string& out, const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(text) != std::string::npos) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

unsigned long StampOf(const std::string& out, const std::string& text, size_t nth) {
  const std::vector<std::string> lines = OutLines(out, text);
  return nth < lines.size() ? std::strtoul(lines[nth].c_str(), nullptr, 10) : 0;
}

std::vector<DWORD> ClientPids(const std::string& out) {
  std::vector<DWORD> pids;
  for (const std::string& line : OutLines(out, " start instance=")) {
    const size_t at = line.find(" pid=");
    if (at != std::string::npos)
      pids.push_back(static_cast<DWORD>(std::strtoul(line.c_str() + at + 5, nullptr, 10)));
  }
  return pids;
}

ProcessWatch::ProcessWatch(DWORD pid)
    : pid_(pid),
      process_(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {}

ProcessWatch::~ProcessWatch() {
  if (process_) CloseHandle(process_);
}

bool ProcessWatch::WaitForExit(DWORD ms) const {
  return process_ && WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
}

DWORD ProcessWatch::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_, &code);
  return code;
}

}  // namespace keldran::test
