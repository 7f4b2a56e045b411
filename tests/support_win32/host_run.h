#pragma once
// One real host run for end-to-end tests and benchmarks: a component of its own in a scratch
// directory, registered by the host itself, run with the test client; read back from the day's log
// file and the client's out file.

#include <windows.h>

#include <string>
#include <vector>

#include "support_win32/e2e_support.h"

namespace keldran::test {

struct HostSetup {
  // Empty: a fresh name of this run's own.
  std::string component;
  // The client's script, written to "first.txt" in the client's working directory.
  std::string script;
  // When not empty, the steps of every restarted client (the test client's /once and /later).
  std::string laterSteps;
  // Further test client options, such as "/delay=500".
  std::string clientOptions;
  // When not empty, the client's whole command line instead of the test client's.
  std::string clientCommand;
  int timeoutSeconds = 4;
  // Further "Key=Value" lines of the INI file's Service section.
  std::vector<std::string> iniLines;
  // Other sections, written verbatim after the Service section.
  std::string moreIni;
  // Registered with /RegService (which installs the Windows service) instead of /RegApp.
  bool asService = false;
  // The host executable; empty: the one beside the test program (AgentExePath).
  std::string agentPath;
};

class HostRun {
 public:
  HostRun();
  HostRun(const HostRun&) = delete;
  HostRun& operator=(const HostRun&) = delete;
  // Kills a host still running and unregisters the component.
  ~HostRun();

  // Writes the INI file (to iniPath when given) and the script and registers the component.
  [[nodiscard]] bool Prepare(const HostSetup& setup, const std::string& iniPath = {});
  // Starts "<agent> "<component>@<INI path>" <arguments>"; the Win32 error, 0 on success.
  [[nodiscard]] DWORD Start(const std::string& arguments = {}, const RunOptions& options = {});
  // Runs another host of the same component to its end.
  RunResult RunAgain(const std::string& arguments, const RunOptions& options = {}) const;

  ChildProcess& host() { return host_; }
  const std::string& component() const { return component_; }
  const std::string& serviceId() const { return serviceId_; }
  const ScratchDir& dir() const { return dir_; }

  // The host's log of today and the client's out file.
  std::string Log() const;
  std::string Out() const;
  bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
  bool OutHas(const std::string& text) const { return Out().find(text) != std::string::npos; }
  size_t LogCount(const std::string& text) const;
  size_t OutCount(const std::string& text) const;
  // Waits in real time for the text to appear.
  bool WaitForLog(const std::string& text, DWORD ms) const;
  bool WaitForOut(const std::string& text, DWORD ms) const;
  bool WaitForOutCount(const std::string& text, size_t count, DWORD ms) const;

 private:
  ScratchDir dir_;
  std::string component_;
  std::string serviceId_;
  std::string iniPath_;
  std::string agentPath_;
  bool registered_ = false;
  ChildProcess host_;
};

// ---- The client's out file -------------------------------------------------------------------

// Lines of the out file that contain the text, in order.
std::vector<std::string> OutLines(const std::string& out, const std::string& text);
// The tick count that starts the nth (0-based) line holding the text; 0 when there is none.
unsigned long StampOf(const std::string& out, const std::string& text, size_t nth = 0);
// The pid of each client instance, from its "start" lines, in order.
std::vector<DWORD> ClientPids(const std::string& out);

// A process held open by its pid, so that its exit code can be read whoever ends it.
class ProcessWatch {
 public:
  explicit ProcessWatch(DWORD pid);
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;
  ~ProcessWatch();
  bool valid() const { return process_ != nullptr; }
  // Waits up to ms for the end; true when the process has ended.
  [[nodiscard]] bool WaitForExit(DWORD ms) const;
  // STILL_ACTIVE (259) while it runs.
  DWORD ExitCode() const;
  DWORD Id() const { return pid_; }

 private:
  DWORD pid_;
  HANDLE process_ = nullptr;
};

}  // namespace keldran::test
