#pragma once
// What the benchmark programs share besides the test helpers: their options, their statistics
// and their guarded entry.

#include <string>
#include <vector>

namespace keldran::bench {

// The whole number of an argument "<prefix>N" (for example "/seconds=" for "/seconds=30"), at
// least 1; the fallback when no argument has the prefix.
int IntOption(int argc, char** argv, const char* prefix, int fallback);

// The median of the values; 0 when there are none.
double Median(std::vector<double> values);

// Wine 8 leaves PrivateUsage at 0 for other processes (and its process times are coarse). The
// same figures come from Linux for the Unix process behind each Windows one, through drive Z:
// (the Linux root): /proc/<pid>/stat (user and system time in clock ticks of 1/100 s) and
// /proc/<pid>/status (RssAnon: the resident private pages; Threads).
struct LinuxUsage {
  double cpuSeconds = -1;
  double privateBytes = -1;
  long threads = -1;
};
// The Unix process whose command line (Wine shows the Windows one there) holds the text; its
// pid as text, empty when there is none.
std::string FindUnixProcess(const std::string& needle);
LinuxUsage MeasureLinux(const std::string& pid);

// Runs the benchmark's main function; an exception that escapes it is reported as
// "<name>: unexpected exception" and ends the program with 1.
int GuardedMain(const char* name, int (*main)(int, char**), int argc, char** argv);

}  // namespace keldran::bench
