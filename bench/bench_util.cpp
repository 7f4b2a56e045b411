#include "bench_util.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/files.h"

namespace keldran::bench {
namespace {

std::string ReadProcFile(const std::string& path) {
  return tools::ReadWholeFile(path).value_or("");
}

}  // namespace

int IntOption(int argc, char** argv, const char* prefix, int fallback) {
  const size_t length = std::strlen(prefix);
  int value = fallback;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix, length) == 0)
      value = std::max(1, std::atoi(argv[i] + length));
  }
  return value;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string FindUnixProcess(const std::string& needle) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA("Z:\\proc\\*", &entry);
  if (find == INVALID_HANDLE_VALUE) return {};
  std::string found;
  do {
    const std::string name = entry.cFileName;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string line = ReadProcFile("Z:\\proc\\" + name + "\\cmdline");
    for (char& c : line)
      if (c == '\0') c = ' ';
    if (line.find(needle) != std::string::npos) found = name;
  } while (found.empty() && FindNextFileA(find, &entry));
  FindClose(find);
  return found;
}

LinuxUsage MeasureLinux(const std::string& pid) {
  LinuxUsage usage;
  if (pid.empty()) return usage;
  const std::string stat = ReadProcFile("Z:\\proc\\" + pid + "\\stat");
  // The fields after the command name in parentheses: state is field 3, utime 14, stime 15.
  const size_t close = stat.rfind(')');
  if (close != std::string::npos) {
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(stat.c_str() + close + 1,
                    " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) == 2) {
      usage.cpuSeconds = static_cast<double>(utime + stime) / 100.0;
    }
  }
  const std::string status = ReadProcFile("Z:\\proc\\" + pid + "\\status");
  const size_t at = status.find("RssAnon:");
  if (at != std::string::npos) usage.privateBytes = 1024.0 * std::atof(status.c_str() + at + 8);
  const size_t threads = status.find("Threads:");
  if (threads != std::string::npos) usage.threads = std::atol(status.c_str() + threads + 8);
  return usage;
}

int GuardedMain(const char* name, int (*main)(int, char**), int argc, char** argv) {
  try {
    return main(argc, argv);
  } catch (...) {
    std::printf("%s: unexpected exception\n", name);
    return 1;
  }
}

}  // namespace keldran::bench
