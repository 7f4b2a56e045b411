// soak.exe (make soak): the host under Wine for longer than anything else runs it. For /crash=
// seconds (600) every client dies 1.5 s after its start and the host restarts it; then, for
// /hang= seconds (300), every new client hangs, silent, until the host kills it for its time-out
// (5 s here). Reported: the restarts and kills, counted from the clients' own exit codes and from
// the host's log (each death logged once and followed by a start); the host's handle count and
// private bytes after the first half minute and at the end; clients still running once the host
// has ended; the log's growth per hour of each loop. Exits 1 when a count does not match, a
// figure grows by more than 5 %, or a client is left behind.
//
//   soak [/crash=600] [/hang=300] [/sample=<s>: the host's figures every s seconds as well]
#include <windows.h>
// tlhelp32.h needs the types of windows.h.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bench_util.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"

namespace keldran::test {
namespace {

constexpr int kTimeoutSeconds = 5;
constexpr char kCrashScript[] = "wait=1500\nexit=3\n";
constexpr char kHangScript[] = "silent\n";
constexpr DWORD kDiedCode = 3;
constexpr DWORD kKilledCode = 1460;
// What the host loads once (COM, the first process starts, the heap's first growth) is not
// growth: the early figures are taken this far into the crash loop, over a window this long.
constexpr DWORD kWarmUpMs = 30000;
constexpr DWORD kWindowMs = 30000;
constexpr DWORD kPollMs = 200;
constexpr double kFlat = 1.05;

// The handles a process holds, from the system's handle table (NtQuerySystemInformation with
// SystemHandleInformation, which Wine answers from the wineserver; its GetProcessHandleCount
// answers 0). -1 when the table cannot be read.
long HandleCount(DWORD pid) {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  struct Entry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    void* object;
    ULONG access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<Table> buffer(4096);
  for (;;) {
    const auto size = static_cast<ULONG>(buffer.size() * sizeof(Table));
    ULONG needed = 0;
    const LONG status = query(kSystemHandleInformation, buffer.data(), size, &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed / sizeof(Table) + 64));
      continue;
    }
    if (status < 0) return -1;
    break;
  }
  const Table& table = buffer[0];
  long count = 0;
  for (ULONG i = 0; i < table.count; ++i) count += table.entries[i].ownerPid == pid;
  return count;
}

ULONGLONG LogBytes(const std::string& dir) {
  ULONGLONG total = 0;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((dir + "\\*.log").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    total += (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return total;
}

// Every client instance, held open from the moment its start line appears, so that its exit
// code can be read whoever ends it. (The host holds a dead client until the next tick's
// restart, so polling every 200 ms sees each one.)
class Clients {
 public:
  explicit Clients(const HostRun& run) : run_(run) {}
  void Poll() {
    const std::vector<DWORD> pids = ClientPids(run_.Out());
    for (size_t i = watches_.size(); i < pids.size(); ++i) {
      watches_.push_back(std::make_unique<ProcessWatch>(pids[i]));
      if (!watches_.back()->valid()) ++unopened_;
    }
  }
  const std::vector<std::unique_ptr<ProcessWatch>>& all() const { return watches_; }
  size_t unopened() const { return unopened_; }

 private:
  const HostRun& run_;
  std::vector<std::unique_ptr<ProcessWatch>> watches_;
  size_t unopened_ = 0;
};

// Keeps the clients watched while real time passes, and reads the host's figures at every look
// (printing them every sampleSeconds, 0: never).
class Watch {
 public:
  Watch(Clients& clients, DWORD host, std::string hostUnix, int sampleSeconds)
      : clients_(clients),
        host_(host),
        hostUnix_(std::move(hostUnix)),
        sampleMs_(static_cast<ULONGLONG>(sampleSeconds) * 1000) {}

  void For(DWORD ms) {
    const ULONGLONG until = GetTickCount64() + ms;
    while (GetTickCount64() < until) {
      clients_.Poll();
      const ULONGLONG now = GetTickCount64();
      {
        const bench::LinuxUsage usage = bench::MeasureLinux(hostUnix_);
        readings_.push_back({now, HandleCount(host_), usage.privateBytes, usage.threads});
        if (sampleMs_ > 0 && now >= nextPrint_) {
          std::printf("  at %3llu s: %zu clients, %ld handles, %.0f KiB private, %ld threads\n",
                      (now - began_) / 1000, clients_.all().size(), readings_.back().handles,
                      readings_.back().privateBytes / 1024, readings_.back().threads);
          std::fflush(stdout);
          nextPrint_ = now + sampleMs_;
        }
      }
      Sleep(kPollMs);
    }
  }

  // The handle count read most often in [from, to): a restart moves it for a moment.
  long UsualHandles(ULONGLONG from, ULONGLONG to) const {
    std::map<long, int> counts;
    for (const Reading& r : readings_)
      if (r.at >= from && r.at < to) ++counts[r.handles];
    long usual = -1;
    int seen = 0;
    for (const auto& [handles, n] : counts) {
      if (n > seen) std::tie(usual, seen) = std::make_pair(handles, n);
    }
    return usual;
  }
  // How many readings in [from, to) saw each thread count.
  std::map<long, int> ThreadCounts(ULONGLONG from, ULONGLONG to) const {
    std::map<long, int> counts;
    for (const Reading& r : readings_)
      if (r.at >= from && r.at < to && r.threads >= 0) ++counts[r.threads];
    return counts;
  }
  // The median private bytes of the readings in [from, to) with that many threads; -1 if none.
  double PrivateBytesAt(ULONGLONG from, ULONGLONG to, long threads) const {
    std::vector<double> bytes;
    for (const Reading& r : readings_) {
      if (r.at >= from && r.at < to && r.threads == threads && r.privateBytes >= 0)
        bytes.push_back(r.privateBytes);
    }
    return bytes.empty() ? -1 : bench::Median(bytes);
  }

 private:
  struct Reading {
    ULONGLONG at;
    long handles;
    double privateBytes;
    long threads;
  };
  Clients& clients_;
  const DWORD host_;
  const std::string hostUnix_;
  const ULONGLONG sampleMs_;
  const ULONGLONG began_ = GetTickCount64();
  ULONGLONG nextPrint_ = 0;
  std::vector<Reading> readings_;
};

// Whether every "Client stopped unexpectedly" and "Client timed out" record is followed by a
// "Client started" record before the next of either.
bool EachEndIsFollowedByAStart(const std::string& log) {
  struct Mark {
    size_t at;
    bool start;
  };
  std::vector<Mark> marks;
  for (const char* end : {"Client stopped unexpectedly", "Client timed out without responding"})
    for (size_t at = log.find(end); at != std::string::npos; at = log.find(end, at + 1))
      marks.push_back({at, false});
  for (size_t at = log.find("Client started"); at != std::string::npos;
       at = log.find("Client started", at + 1))
    marks.push_back({at, true});
  std::sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return a.at < b.at; });
  for (size_t i = 0; i < marks.size(); ++i) {
    if (!marks[i].start && (i + 1 == marks.size() || !marks[i + 1].start)) return false;
  }
  return true;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Test-client processes of the prefix that still run.
size_t RunningTestClients() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  size_t count = 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    count += lstrcmpiA(entry.szExeFile, "KeldranTestClient.exe") == 0;
  CloseHandle(snapshot);
  return count;
}

double Percent(double before, double after) { return before > 0 ? 100 * (after / before - 1) : 0; }

int Main(int argc, char** argv) {
  const int crashSeconds = bench::IntOption(argc, argv, "/crash=", 600);
  const int hangSeconds = bench::IntOption(argc, argv, "/hang=", 300);
  const int sampleSeconds = bench::IntOption(argc, argv, "/sample=", 0);
  std::printf(
      "soak: %d s of a client that dies 1.5 s after each start, then %d s of one that "
      "hangs (time-out %d s)\n",
      crashSeconds, hangSeconds, kTimeoutSeconds);
  std::fflush(stdout);

  ComApartment apartment;
  TypeLibRegistration typeLib(AgentExePath());
  HostRun run;
  HostSetup setup;
  setup.timeoutSeconds = kTimeoutSeconds;
  setup.script = kCrashScript;
  // The host's notices (a line on its console for every death) go to a file.
  RunOptions quiet;
  quiet.outputFile = run.dir().File("host.out");
  if (FAILED(typeLib.result()) || !run.Prepare(setup) || run.Start({}, quiet) != 0 ||
      !run.WaitForOut("connected thread=", 20000)) {
    std::printf("the host or its client did not start\n%s\n", run.Log().c_str());
    return 1;
  }
  const DWORD host = run.host().Id();
  // Wine gives the Unix process the Windows command line's words without their quotes.
  const std::string hostUnix = bench::FindUnixProcess(run.component() + "@");
  const std::string logs = run.dir().File("logs");
  Clients clients(run);
  Watch watch(clients, host, hostUnix, sampleSeconds);

  const ULONGLONG crashBegins = GetTickCount64();
  const ULONGLONG logAtCrash = LogBytes(logs);
  // The early figures: those of a window after the warm-up; the late ones: of as long a window
  // at the end.
  const DWORD window = std::min<DWORD>(kWindowMs, static_cast<DWORD>(crashSeconds) * 250);
  const DWORD warmUp = std::min<DWORD>(kWarmUpMs, static_cast<DWORD>(crashSeconds) * 250);
  watch.For(static_cast<DWORD>(crashSeconds) * 1000 -
            static_cast<DWORD>(GetTickCount64() - crashBegins));
  const double crashElapsed = static_cast<double>(GetTickCount64() - crashBegins) / 1000;
  const ULONGLONG earlyFrom = crashBegins + warmUp, earlyTo = earlyFrom + window;
  const ULONGLONG logAtHang = LogBytes(logs);
  const size_t diedInCrashLoop = CountOf(run.Log(), "Client stopped unexpectedly");

  // Every client that starts from now on reads the new script.
  if (!run.dir().Write("first.txt", kHangScript)) {
    std::printf("cannot write the client's script\n");
    return 1;
  }
  const ULONGLONG hangBegins = GetTickCount64();
  watch.For(static_cast<DWORD>(hangSeconds) * 1000);
  const double hangElapsed = static_cast<double>(GetTickCount64() - hangBegins) / 1000;
  const ULONGLONG logAtEnd = LogBytes(logs);
  const ULONGLONG lateTo = GetTickCount64() + 1, lateFrom = lateTo - 1 - window;
  const long earlyHandles = watch.UsualHandles(earlyFrom, earlyTo);
  const long lateHandles = watch.UsualHandles(lateFrom, lateTo);
  // Under Wine each thread costs the host about a megabyte of private memory, and the host has
  // a thread for each client connection open at the moment, which comes and goes with the
  // clients (the crash loop often overlaps two): the private bytes are compared at the thread
  // count read most often in both windows.
  const std::map<long, int> earlyThreads = watch.ThreadCounts(earlyFrom, earlyTo);
  const std::map<long, int> lateThreads = watch.ThreadCounts(lateFrom, lateTo);
  long threads = -1;
  int weight = 0;
  for (const auto& [count, n] : earlyThreads) {
    const auto late = lateThreads.find(count);
    if (late != lateThreads.end() && std::min(n, late->second) > weight)
      std::tie(threads, weight) = std::make_pair(count, std::min(n, late->second));
  }
  const double earlyBytes = watch.PrivateBytesAt(earlyFrom, earlyTo, threads);
  const double lateBytes = watch.PrivateBytesAt(lateFrom, lateTo, threads);

  quiet.outputFile = run.dir().File("stop.out");
  const RunResult stop = run.RunAgain("/Stop", quiet);
  const bool hostEnded = run.host().WaitForExit(60000);
  clients.Poll();
  size_t leftOver = 0;
  for (const auto& client : clients.all()) leftOver += !client->WaitForExit(10000);
  const size_t strays = RunningTestClients();

  // The clients' own account: all but the last ended by dying or by being killed for silence;
  // the last was ended by the stop.
  const auto& all = clients.all();
  size_t died = 0, killed = 0, other = 0;
  for (size_t i = 0; i + 1 < all.size(); ++i) {
    const DWORD code = all[i]->ExitCode();
    died += code == kDiedCode;
    killed += code == kKilledCode;
    other += code != kDiedCode && code != kKilledCode;
  }
  const std::string log = run.Log();
  const size_t logStarted = CountOf(log, "Client started");
  const size_t logDied = CountOf(log, "Client stopped unexpectedly");
  const size_t logTimedOut = CountOf(log, "Client timed out without responding");
  // Each client's end has a record of its own, with its exit code.
  const size_t logEndedDied = CountOf(log, " ended with exit code 3 (");
  const size_t logEndedKilled = CountOf(log, " killed with exit code 1460 ");
  const DWORD lastCode = all.empty() ? 0 : all.back()->ExitCode();
  const bool ordered = EachEndIsFollowedByAStart(log);

  std::printf("clients started: %zu; the log's \"Client started\": %zu\n", all.size(), logStarted);
  std::printf("  died on their own (exit 3): %zu; the log's \"Client stopped unexpectedly\": %zu\n",
              died, logDied);
  std::printf("  killed for silence (exit 1460): %zu; the log's \"Client timed out\": %zu\n",
              killed, logTimedOut);
  std::printf(
      "  the log's client-end records: %zu \"ended with exit code 3\", %zu \"killed "
      "with exit code 1460\"\n",
      logEndedDied, logEndedKilled);
  std::printf(
      "  ended otherwise: %zu; not seen in time to watch: %zu; the last, at the stop: "
      "exit %lu\n",
      other, clients.unopened(), lastCode);
  std::printf("  every death and time-out is followed by a start: %s\n", ordered ? "yes" : "no");
  std::printf("  restarts per minute: %.1f in the crash loop, %.1f in the hang loop\n",
              60.0 * static_cast<double>(diedInCrashLoop) / crashElapsed,
              60.0 * static_cast<double>(killed) / hangElapsed);
  auto counts = [](const std::map<long, int>& counts) {
    std::string text;
    for (const auto& [count, n] : counts)
      text += (text.empty() ? "" : ", ") + std::to_string(count) + " (" + std::to_string(n) + "x)";
    return text;
  };
  std::printf("the host from %lu to %lu s, and in the last %lu s:\n", warmUp / 1000,
              (warmUp + window) / 1000, window / 1000);
  std::printf("  handles (system handle table), as read most often: %ld, %ld (%+.1f %%)\n",
              earlyHandles, lateHandles,
              Percent(static_cast<double>(earlyHandles), static_cast<double>(lateHandles)));
  std::printf("  threads read: %s; %s\n", counts(earlyThreads).c_str(),
              counts(lateThreads).c_str());
  std::printf(
      "  private bytes (RssAnon of its Unix process) with %ld threads: %.0f KiB, %.0f KiB "
      "(%+.1f %%)\n",
      threads, earlyBytes / 1024, lateBytes / 1024, Percent(earlyBytes, lateBytes));
  std::printf(
      "log growth: crash loop %llu bytes in %.0f s = %.0f KiB per hour (%.0f bytes per "
      "restart); hang loop %llu bytes in %.0f s = %.0f KiB per hour\n",
      logAtHang - logAtCrash, crashElapsed,
      static_cast<double>(logAtHang - logAtCrash) / crashElapsed * 3600 / 1024,
      diedInCrashLoop
          ? static_cast<double>(logAtHang - logAtCrash) / static_cast<double>(diedInCrashLoop)
          : 0.0,
      logAtEnd - logAtHang, hangElapsed,
      static_cast<double>(logAtEnd - logAtHang) / hangElapsed * 3600 / 1024);
  std::printf(
      "host exit code after /Stop: %s%lu; clients still running: %zu (test-client "
      "processes in the prefix: %zu)\n",
      hostEnded ? "" : "(still running) ", run.host().ExitCode(), leftOver, strays);

  std::vector<std::string> failures;
  auto check = [&](bool ok, const char* what) {
    if (!ok) failures.push_back(what);
  };
  check(stop.started && hostEnded && run.host().ExitCode() == 0, "the host did not stop with 0");
  check(died > 0 && died == logDied && died == logEndedDied, "deaths and their log records differ");
  check(killed > 0 && killed == logTimedOut &&
            killed + (lastCode == kKilledCode ? 1 : 0) == logEndedKilled,
        "kills and their log records differ");
  check(logStarted == all.size() && other == 0 && clients.unopened() == 0,
        "client starts and the log's records differ");
  check(ordered, "a death or time-out is not followed by a start");
  check(earlyHandles > 0 && lateHandles <= earlyHandles * kFlat, "the handle count grew");
  check(earlyBytes > 0 && lateBytes > 0 && lateBytes <= earlyBytes * kFlat,
        "private bytes grew (or no thread count was read early and late)");
  check(leftOver == 0 && strays == 0, "a client outlived the host");
  for (const std::string& failure : failures) std::printf("FAILED: %s\n", failure.c_str());
  std::printf("soak: %s\n", failures.empty() ? "passed" : "failed");
  return failures.empty() ? 0 : 1;
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  return keldran::bench::GuardedMain("soak", keldran::test::Main, argc, argv);
}
