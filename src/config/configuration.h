#pragma once
// The component's configuration: the program's own paths, what the INI file says (with the
// command line's settings applied over it) and the ServiceID from the registry. The start-up
// routine fills it once; after that it is read only. The few settings that change while the host
// runs (Show, Debug, Timeout) are copied by the supervisor, which owns their run-time values.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/names.h"

namespace keldran {

// Paths and INI values live in 260-character buffers: 259 characters and the terminator.
constexpr std::size_t kPathBuffer = 260;
// MetricsInterval's default and its range; a value outside it counts as the default.
constexpr std::int32_t kDefaultMetricsInterval = 15;
constexpr std::int32_t kMaxMetricsInterval = 3600;

struct Configuration {
  // The program.
  std::string ExePath;  // full long path
  std::string AppName;  // file name without extension
  std::string ExeDir;   // canonical, with a trailing backslash

  std::string ServiceComp;
  std::string ServiceName;
  std::string DisplayName = names::kUnconfiguredDisplayName;
  std::string Description;
  std::string ServicePath;
  std::string IniFile;
  std::string IniDir;
  std::string WindowsDir;
  std::string CommandLine;
  std::string WorkingDir;
  std::string DataDir;
  std::string LogDir;
  std::string LogPre;
  std::string GSDir;
  std::string CtrlSrc;
  std::string CtrlDoc;
  std::string DeleteRegKeys;
  std::string IconFile;
  std::int32_t AutoStart = 0;
  std::int32_t Show = 0;
  std::int32_t Debug = 0;
  std::int32_t Trace = 0;
  std::int32_t Timeout = 0;
  // Additions of ours (0, the default, leaves the behaviour as it always was): the days a daily
  // log file is kept, and the longest pause between restarts of a client that keeps ending soon
  // after its start, in seconds.
  std::int32_t LogKeepDays = 0;
  std::int32_t RestartBackoff = 0;
  // The client's standard output and error go to a daily file in the log folder (0: the client
  // keeps its own), up to this many megabytes a day (0: no cap); the newest this many minidumps
  // of clients killed for silence are kept (0: none are written).
  std::int32_t CaptureOutput = 1;
  std::int32_t OutputMaxMB = 100;
  std::int32_t DumpKeep = 5;
  // Registration only: the restart delays in seconds that the Service Control Manager applies
  // after the service fails (none: recovery off), and delayed automatic start.
  std::vector<std::uint32_t> RecoveryDelays;
  std::int32_t DelayedStart = 0;
  // The client's surroundings: variables added to its environment (the [Environment] section,
  // macros expanded, in the file's order), its priority class (0: as the system chooses) and its
  // processors (bit n: processor n; 0: all).
  std::vector<std::pair<std::string, std::string>> Environment;
  std::uint32_t PriorityClass = 0;
  std::uint64_t AffinityMask = 0;
  // Exit codes on which a client that ends by itself ends the run cleanly instead of being
  // started again.
  std::vector<std::uint32_t> StopExitCodes;
  // The Prometheus text file that the running host keeps up to date (empty: none), and the
  // seconds between its writes when nothing changes.
  std::string MetricsFile;
  std::int32_t MetricsInterval = kDefaultMetricsInterval;
  std::string LogonUser;
  // Empty for the accounts that need none (LocalService, NetworkService, virtual and group
  // managed service accounts).
  std::string LogonPassword;
  std::string ServiceID;
};

// A setting given on the command line (Debug, Release, Timeout=, Show, Hide, Auto, AutoStart,
// Manual). They are applied over the INI file's values, in command-line order: what an
// administrator types counts.
struct CommandLineSetting {
  enum class Kind { kDebug, kRelease, kTimeout, kShow, kHide, kAutoStart, kManual };
  Kind kind;
  std::int32_t value = 0;  // the Timeout= value
};

// A [Service] value that an installer hands to its commit step (/Set:Key=value), for the working
// INI file.
struct IniSetting {
  std::string key;  // as the section names it
  std::string value;
  friend bool operator==(const IniSetting&, const IniSetting&) = default;
};

// What the command line asks for.
struct RunFlags {
  bool Quiet = false;
  bool ServiceSwitch = false;
  bool StartRequested = false;
  bool StopRequested = false;
  bool StatusRequested = false;  // print the component's status (an addition of ours)
  bool CheckRequested = false;   // check the component's configuration (an addition of ours)
  bool JsonRequested = false;    // /Status as one JSON object (ours)
  bool RegApp = false;
  bool RegServ = false;
  bool UnReg = false;
  bool CommitStep = false;
  bool RemoveStep = false;
  // The commit step's: write the installer's values into an existing working INI file too
  // (/ReplaceConfig=1), and finish an upgrade (/Upgrade=<the packages it replaces>).
  bool ReplaceConfig = false;
  bool UpgradeCommit = false;
  // The Service option was given; the start-up routine may still clear it (the component is
  // not registered as a service), and so may the start of the dispatcher.
  bool RunAsService = false;
};

// Overwrites a secret (the service account's password) before letting it go, so that no copy
// outlives its one use.
inline void WipeSecret(std::string* secret) {
  volatile char* bytes = secret->data();
  for (std::size_t i = 0; i < secret->size(); ++i) bytes[i] = 0;
  secret->clear();
}

}  // namespace keldran
