#pragma once
// Helpers for Windows tests that drive real programs: where the built programs lie, scratch
// directories, running programs with their full exit codes and message boxes, registry keys,
// waiting in real time and today's log file. Plain Win32, no gtest, so that every Windows test
// binary can use them.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace keldran::test {

// ---- Paths ------------------------------------------------------------------------------------

// Directory of the running test executable, without a trailing backslash.
std::string TestExeDir();
// A program that the build puts beside the test executable.
std::string ProgramPath(const std::string& exeName);
// KeldranGridAgent.exe beside the test executable.
std::string AgentExePath();

// ---- Files ------------------------------------------------------------------------------------

[[nodiscard]] bool WriteWholeFile(const std::string& path, const std::string& content);
// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// A fresh directory under the temporary directory, removed with everything in it on
// destruction.
class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();

  // Empty when the directory could not be created.
  const std::string& path() const { return path_; }
  // The path of an entry of the directory (name may contain backslashes).
  std::string File(const std::string& name) const;
  // Writes a file, creating the directories its name needs.
  [[nodiscard]] bool Write(const std::string& name, const std::string& content) const;
  // The file's content; empty when it does not exist.
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

// ---- Processes --------------------------------------------------------------------------------

struct MessageBoxSeen {
  std::string caption;
  std::string text;
  bool operator==(const MessageBoxSeen&) const = default;
};

struct RunOptions {
  std::string workingDir;                                        // empty: the test's own
  std::vector<std::pair<std::string, std::string>> environment;  // added to (or replacing) ours
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

// A program started for a test; killed if it still runs when the object goes.
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

// Runs a program to its end (or the time-out) and returns its full 32-bit exit code. Inside a
// gtest body call it as test::Run: testing::Test::Run hides the unqualified name.
RunResult Run(const std::string& commandLine, const RunOptions& options = {});

// ---- Registry ---------------------------------------------------------------------------------

struct RegValue {
  std::string name;  // empty: the key's default value
  DWORD type;        // REG_SZ or REG_DWORD
  std::string text;
  DWORD number = 0;
  static RegValue String(std::string name, std::string text) {
    return {std::move(name), REG_SZ, std::move(text), 0};
  }
  static RegValue Dword(std::string name, DWORD number) {
    return {std::move(name), REG_DWORD, {}, number};
  }
};

// Creates the key (and its parents) and sets the values; the Win32 error, 0 on success.
[[nodiscard]] LONG CreateRegKey(HKEY root, const std::string& subkey,
                                const std::vector<RegValue>& values = {});
// Deletes the key with everything below it; ERROR_FILE_NOT_FOUND when it does not exist.
[[nodiscard]] LONG DeleteRegTree(HKEY root, const std::string& subkey);
bool RegKeyExists(HKEY root, const std::string& subkey);
std::optional<std::string> ReadRegString(HKEY root, const std::string& subkey,
                                         const std::string& name);
std::optional<DWORD> ReadRegDword(HKEY root, const std::string& subkey, const std::string& name);

// ---- Time and logs ----------------------------------------------------------------------------

// Polls the predicate every pollMs in real time until it holds (true) or timeoutMs have passed
// (false, after one last look). For end-to-end tests only: unit tests never wait.
bool WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs, DWORD pollMs = 20);

// "%04i-%02i-%02i.log" of today's local date.
std::string TodaysLogFileName();
// The content of today's log file in the directory; empty when there is none.
std::string ReadTodaysLog(const std::string& dir);

}  // namespace keldran::test
