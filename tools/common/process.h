#pragma once
// Running a program from a helper program or a test: its full 32-bit exit code (wine64's own
// exit status is the code modulo 256), optionally its message boxes, each collected and
// dismissed, so that a program that ends with a notice can run unattended.

#include <windows.h>

#include <string>
#include <vector>

namespace keldran::tools {

struct MessageBoxSeen {
  std::string caption;
  std::string text;
  bool operator==(const MessageBoxSeen&) const = default;
};

struct RunOptions {
  DWORD timeoutMs = 30000;
  // Standard output and error of the program go to this file (created anew) when not empty.
  std::string outputFile;
  // Collect each message box of the program (caption and text) and press its OK button.
  bool handleBoxes = false;
};

struct RunResult {
  bool started = false;
  DWORD startError = 0;   // GetLastError of CreateProcessA when not started
  bool timedOut = false;  // killed at the time-out
  DWORD exitCode = 0;
  std::vector<MessageBoxSeen> boxes;
};

// A program started by us; killed if it still runs when the object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Starts the command line (program first, quoted where it has blanks). Returns the Win32
  // error, 0 on success.
  [[nodiscard]] DWORD Start(const std::string& commandLine, const RunOptions& options = {});
  bool IsRunning() const;
  // Waits up to ms for the end; true when the program has ended. Handles message boxes while
  // it waits when the options asked for it.
  [[nodiscard]] bool WaitForExit(DWORD ms);
  // Kills the program with the code and waits for its end.
  void Kill(UINT exitCode = 1);
  // STILL_ACTIVE (259) while it runs.
  DWORD ExitCode() const;
  DWORD Id() const { return id_; }
  // Collects and dismisses the message boxes shown now; all boxes seen so far.
  const std::vector<MessageBoxSeen>& CollectBoxes();
  const std::vector<MessageBoxSeen>& boxes() const { return boxes_; }

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
  bool handleBoxes_ = false;
  std::vector<HWND> dismissed_;
  std::vector<MessageBoxSeen> boxes_;
};

// Runs a program to its end (or the time-out, then kills it).
RunResult RunProgram(const std::string& commandLine, const RunOptions& options = {});

}  // namespace keldran::tools
