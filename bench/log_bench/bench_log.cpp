// bench_log: records per second of the log writer, with its durability (open, seek to the end,
// write-through write, flush, close for every record, under the global mutex), against a bare
// loop of the same file calls measured in the same run; in one process and in four at once.
// The four-process writer runs are also checked for lost, repeated, torn or reordered records.
//
//   bench_log                                  the whole benchmark
//   bench_log child writer|bare <dir> <tag> <count>   one of the four processes
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "log/error_text.h"
#include "log/log.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran {
namespace {

constexpr int kSingleRecords = 1000;
constexpr int kChildRecords = 500;
constexpr int kProcesses = 4;
constexpr int kRounds = 15;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A record as the writer would frame it, so both loops move the same bytes.
std::string RecordText(const char* tag, int i) {
  return Format("\r\n\r\n#09:05:03.007#%s# record %s %06d", tag, tag, i);
}

// The bare loop: the writer's file calls and nothing else.
bool BareRecords(const std::string& path, const char* tag, int count) {
  for (int i = 1; i <= count; ++i) {
    const std::string record = RecordText(tag, i);
    win32::UniqueFile file;
    for (;;) {
      file.reset(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED,
                               nullptr));
      // Without the writer's mutex, concurrent bare appenders meet as sharing violations: the
      // open is simply tried again at once.
      if (file || ::GetLastError() != ERROR_SHARING_VIOLATION) break;
      ::Sleep(0);
    }
    if (!file) return false;
    ::SetFilePointer(file.get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    if (!::WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &written,
                     nullptr)) {
      return false;
    }
    ::FlushFileBuffers(file.get());
  }
  return true;
}

bool WriterRecords(Platform& platform, const std::string& dir, const char* tag, int count) {
  Log log(platform);
  log.setLogDir(dir.c_str());
  for (int i = 1; i <= count; ++i) log.logDebug(Format("record %s %06d", tag, i), tag);
  // Timed until the writer's thread has the records in the file, not just queued.
  return log.Flush(30000) && !log.failureReported(Log::kLogFileFailure);
}

// A fresh directory under this run's own folder in the temp directory (process ids come back
// under Wine, so the folder also carries the start time).
std::string TempDir(const std::string& name) {
  static const std::string root = [] {
    char temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof temp, temp);
    std::string dir = std::string(temp, n) +
                      Format("keldran-bench-%lu-%llu", ::GetCurrentProcessId(), ::GetTickCount64());
    ::CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
  }();
  if (name.empty()) return root;
  const std::string dir = root + "\\" + name;
  ::CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The single .log file the writers left in the directory.
std::string LogFileIn(const std::string& dir) {
  WIN32_FIND_DATAA found;
  win32::UniqueFind find(::FindFirstFileA((dir + "\\*.log").c_str(), &found));
  return find ? dir + "\\" + found.cFileName : std::string();
}

struct Check {
  int whole = 0;   // records that read as written
  int broken = 0;  // anything else between record separators
  bool ordered = true;
};

// Splits the file at the record separators and checks each record's tag and number.
Check CheckRecords(const std::string& content, int processes, int count) {
  static const std::regex pattern("#\\d\\d:\\d\\d:\\d\\d\\.\\d{3}#(P\\d)# record \\1 (\\d{6})");
  Check check;
  std::map<std::string, int> last;
  for (std::size_t at = content.rfind("\r\n\r\n", 0) == 0 ? 4 : 0; at < content.size();) {
    std::size_t end = content.find("\r\n\r\n", at);
    if (end == std::string::npos) end = content.size();
    const std::string record = content.substr(at, end - at);
    at = end + 4;
    std::smatch match;
    if (!std::regex_match(record, match, pattern)) {
      ++check.broken;
      continue;
    }
    ++check.whole;
    const int number = std::stoi(match[2]);
    if (number != last[match[1]] + 1) check.ordered = false;
    last[match[1]] = number;
  }
  if (static_cast<int>(last.size()) != processes) check.ordered = false;
  for (const auto& [tag, number] : last) {
    if (number != count) check.ordered = false;
  }
  return check;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Starts the four children of one kind at once and waits for them; the wall time, or < 0.
double RunChildren(Platform& platform, const char* kind, const std::string& dir) {
  const std::string self = platform.processes.ModuleFileName();
  std::vector<ScopedProcessHandle> children;
  const auto start = Clock::now();
  for (int p = 1; p <= kProcesses; ++p) {
    ProcessInformation info;
    const std::string command =
        Format("\"%s\" child %s \"%s\" P%d %d", self.c_str(), kind, dir.c_str(), p, kChildRecords);
    if (platform.processes.CreateProcess(command, show_window::kHide, std::nullopt, "", &info) !=
        0) {
      return -1;
    }
    platform.processes.CloseThread(info.thread);
    children.emplace_back(platform.processes, info.process);
  }
  bool ok = true;
  for (auto& child : children) {
    std::uint32_t code = 1;
    ok = platform.processes.WaitForProcess(child.get(), 300000) == wait_result::kObject0 &&
         platform.processes.GetExitCode(child.get(), &code) && code == 0 && ok;
  }
  const double seconds = Seconds(start);
  return ok ? seconds : -1;
}

int Child(Platform& platform, const std::string& kind, const std::string& dir, const char* tag,
          int count) {
  if (kind == "bare") return BareRecords(dir + "\\bare.log", tag, count) ? 0 : 1;
  return WriterRecords(platform, dir, tag, count) ? 0 : 1;
}

// Microseconds per call of what the writer adds to the bare file calls.
template <class Call>
double MicrosecondsPerCall(int count, Call call) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) call();
  return Seconds(start) * 1e6 / count;
}

int Benchmark(Platform& platform) {
  std::printf(
      "log writer: records per second with open, seek, write-through write, flush and\n"
      "close per record; bare loop = the same file calls without the writer, run\n"
      "alternately with it so both see the same machine load\n");
  // Warm up the file system and the wineserver.
  const std::string warm = TempDir("warm");
  BareRecords(warm + "\\bare.log", "W", 100);
  WriterRecords(platform, warm, "W", 100);

  std::vector<double> bare;
  std::vector<double> writer;
  std::vector<double> ratios;
  for (int round = 0; round < kRounds; ++round) {
    const std::string dir = TempDir(Format("single-%d", round));
    double bareRate = 0;
    double writerRate = 0;
    for (int leg = 0; leg < 2; ++leg) {
      const bool bareLeg = (leg + round) % 2 == 0;
      const auto start = Clock::now();
      const bool ok = bareLeg ? BareRecords(dir + "\\bare.log", "S", kSingleRecords)
                              : WriterRecords(platform, dir, "S", kSingleRecords);
      if (!ok) return 1;
      (bareLeg ? bareRate : writerRate) = kSingleRecords / Seconds(start);
    }
    bare.push_back(bareRate);
    writer.push_back(writerRate);
    ratios.push_back(writerRate / bareRate);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf(
      "single process (%d rounds of %d records, medians): bare %.0f/s, writer %.0f/s, "
      "ratio %.2f (goal >= 0.90; rounds ranged %.2f to %.2f)\n",
      kRounds, kSingleRecords, Median(bare), Median(writer), Median(writer) / Median(bare),
      ratios.front(), ratios.back());

  // The writer's own calls per record, beyond the file calls.
  MutexHandle mutex;
  if (platform.sync.CreateNamedMutex(Log::kMutexName, Log::kMutexSddl, &mutex) == 0) {
    ScopedMutex owned(platform.sync, mutex);
    const double mutexUs = MicrosecondsPerCall(2000, [&] {
      (void)platform.sync.WaitForMutex(mutex, 10000);
      (void)platform.sync.ReleaseMutex(mutex);
    });
    const std::string debugText = RecordText("S", 1).substr(2) + "\r\n";
    const double debuggerUs =
        MicrosecondsPerCall(2000, [&] { platform.texts.OutputDebugString(debugText); });
    std::printf(
        "writer's own calls per record: mutex wait + release %.1f us, debugger output "
        "%.1f us; one bare record takes %.1f us\n",
        mutexUs, debuggerUs, 1e6 / Median(bare));
  }

  const int total = kProcesses * kChildRecords;
  std::vector<double> bare4;
  std::vector<double> writer4;
  bool lossless = true;
  int bareKept = total;
  for (int round = 0; round < 3; ++round) {
    const std::string bareDir = TempDir(Format("bare4-%d", round));
    const std::string writerDir = TempDir(Format("writer4-%d", round));
    double b = 0;
    double w = 0;
    if (round % 2 == 0) {
      b = RunChildren(platform, "bare", bareDir);
      w = RunChildren(platform, "writer", writerDir);
    } else {
      w = RunChildren(platform, "writer", writerDir);
      b = RunChildren(platform, "bare", bareDir);
    }
    if (b < 0 || w < 0) {
      std::printf("a child process failed\n");
      return 1;
    }
    bare4.push_back(total / b);
    writer4.push_back(total / w);
    const Check writerCheck =
        CheckRecords(ReadAll(LogFileIn(writerDir)), kProcesses, kChildRecords);
    if (writerCheck.whole != total || writerCheck.broken != 0 || !writerCheck.ordered) {
      lossless = false;
      std::printf("writer round %d: %d of %d records whole, %d broken, %s\n", round,
                  writerCheck.whole, total, writerCheck.broken,
                  writerCheck.ordered ? "in order" : "NOT in order");
    }
    bareKept = std::min(
        bareKept, CheckRecords(ReadAll(bareDir + "\\bare.log"), kProcesses, kChildRecords).whole);
  }
  std::printf(
      "%d processes at once (%d records each, process start included, medians of 3): "
      "bare %.0f/s, writer %.0f/s, ratio %.2f\n",
      kProcesses, kChildRecords, Median(bare4), Median(writer4), Median(writer4) / Median(bare4));
  std::printf(
      "%d processes: the writer kept %s %d records once each, whole and in order; "
      "the bare loop kept %d whole in its worst round\n",
      kProcesses, lossless ? "all" : "NOT all", total, bareKept);
  (void)platform.shell.DeleteFolder(TempDir(""));
  return lossless ? 0 : 1;
}

}  // namespace
}  // namespace keldran

int main(int argc, char** argv) {
  keldran::win32::Win32Platform backend;
  if (argc == 6 && std::string(argv[1]) == "child") {
    return keldran::Child(backend.platform(), argv[2], argv[3], argv[4],
                          static_cast<int>(std::strtol(argv[5], nullptr, 10)));
  }
  if (argc != 1) {
    std::fprintf(stderr, "usage: bench_log [child writer|bare <dir> <tag> <count>]\n");
    return 2;
  }
  return keldran::Benchmark(backend.platform());
}
