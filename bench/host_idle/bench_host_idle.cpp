// bench_host_idle: what the host costs while it supervises a healthy client that sends a
// heartbeat every second: its CPU time over a measured period (60 s by default) and its private
// bytes at the end, from GetProcessTimes and GetProcessMemoryInfo. The baseline, measured in the
// same run over the same period, is the client process itself: a message loop with a window, a
// COM apartment and one call a second from the other side.
//
// The packaged host of `make package` (stripped, build/package beside the build tree, or the
// /packaged= path) runs alongside the built one over the same period, with a client of its own,
// and is reported against the same baseline: Wine maps debug sections into private memory.
//
//   bench_host_idle [/seconds=N] [/packaged=path]
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_util.h"
#include "common/handle.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"
#include "support_win32/stand_in_host.h"

namespace keldran::test {
namespace {

struct Usage {
  double cpuSeconds = -1;  // kernel + user
  double privateBytes = -1;
  double workingSet = -1;
};

double FileTimeSeconds(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 1e7;
}

Usage Measure(HANDLE process) {
  Usage usage;
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user))
    usage.cpuSeconds = FileTimeSeconds(kernel) + FileTimeSeconds(user);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory)) {
    usage.privateBytes = static_cast<double>(memory.PrivateUsage);
    usage.workingSet = static_cast<double>(memory.WorkingSetSize);
  }
  return usage;
}

double Ratio(double a, double b) { return b > 0 ? a / b : 0; }

std::string StringOption(int argc, char** argv, const std::string& prefix) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind(prefix, 0) == 0) return argv[i] + prefix.size();
  return {};
}

// build\package\KeldranGridAgent.exe, beside build\windows\bin where this program lives.
std::string DefaultPackagedPath() {
  char full[MAX_PATH];
  const std::string relative = ProgramPath("..\\..\\package\\KeldranGridAgent.exe");
  const DWORD n = GetFullPathNameA(relative.c_str(), MAX_PATH, full, nullptr);
  return n > 0 && n < MAX_PATH ? full : relative;
}

// One host under measurement with the client it supervises.
class MeasuredHost {
 public:
  MeasuredHost(std::string name, std::string exe) : name_(std::move(name)), exe_(std::move(exe)) {}

  const std::string& name() const { return name_; }
  HostRun& run() { return run_; }

  bool Start() {
    HostSetup setup;
    setup.script = "heartbeat=1000\n";
    setup.timeoutSeconds = 60;
    setup.agentPath = exe_;
    if (!run_.Prepare(setup) || run_.Start() != 0 || !run_.WaitForOut("connected thread=", 20000)) {
      std::printf("the %s host or its client did not start\n%s\n", name_.c_str(),
                  run_.Log().c_str());
      return false;
    }
    const std::vector<DWORD> clients = ClientPids(run_.Out());
    constexpr DWORD kAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
    host_.reset(OpenProcess(kAccess, FALSE, run_.host().Id()));
    client_.reset(OpenProcess(kAccess, FALSE, clients.empty() ? 0 : clients[0]));
    if (!host_.valid() || !client_.valid()) {
      std::printf("cannot open the %s processes: error %lu\n", name_.c_str(), GetLastError());
      return false;
    }
    // Wine gives the Unix process the Windows command line's words without their quotes.
    hostUnix_ = bench::FindUnixProcess(run_.component() + "@");
    clientUnix_ = bench::FindUnixProcess("/ServiceID=" + run_.serviceId());
    return true;
  }

  // The figures at the start and at the end of the measured period.
  void Sample(bool end) {
    Snapshot& s = end ? after_ : before_;
    s.host = Measure(host_.get());
    s.client = Measure(client_.get());
    s.hostLinux = bench::MeasureLinux(hostUnix_);
    s.clientLinux = bench::MeasureLinux(clientUnix_);
  }

  struct Snapshot {
    Usage host, client;
    bench::LinuxUsage hostLinux, clientLinux;
  };
  const Snapshot& before() const { return before_; }
  const Snapshot& after() const { return after_; }

 private:
  std::string name_, exe_;
  HostRun run_;
  Handle host_, client_;
  std::string hostUnix_, clientUnix_;
  Snapshot before_, after_;
};

int Main(int argc, char** argv) {
  const int seconds = bench::IntOption(argc, argv, "/seconds=", 60);
  ComApartment apartment;
  TypeLibRegistration typeLib(AgentExePath());
  if (FAILED(typeLib.result())) {
    std::printf("cannot register the type library of %s\n", AgentExePath().c_str());
    return 1;
  }
  std::vector<std::unique_ptr<MeasuredHost>> hosts;
  hosts.push_back(std::make_unique<MeasuredHost>("built", AgentExePath()));
  std::string packaged = StringOption(argc, argv, "/packaged=");
  if (packaged.empty()) packaged = DefaultPackagedPath();
  if (GetFileAttributesA(packaged.c_str()) != INVALID_FILE_ATTRIBUTES)
    hosts.push_back(std::make_unique<MeasuredHost>("packaged", packaged));
  else
    std::printf("no packaged host at %s (make package builds it)\n", packaged.c_str());
  for (auto& host : hosts)
    if (!host->Start()) return 1;

  // Let start-up settle before the measured period.
  Sleep(2000);
  for (auto& host : hosts) host->Sample(false);
  std::printf("measuring %zu host(s) and their clients for %d s...\n", hosts.size(), seconds);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  for (auto& host : hosts) host->Sample(true);
  for (auto& host : hosts) {
    std::printf("heartbeats seen by the %s host's client: %zu\n", host->name().c_str(),
                host->run().OutCount("call Running hr=0x00000000"));
    (void)host->run().RunAgain("/Stop");
  }

  // The baseline of every host: the built host's client.
  const MeasuredHost& base = *hosts.front();
  auto report = [&](const std::string& host, double hostCpu, double clientCpu, double hostPrivate,
                    double clientPrivate, double hostGrowth) {
    std::printf(
        "  %s host CPU %.3f s in %d s (%.3f%% of one core); client (baseline) %.3f s "
        "(%.3f%%); ratio %.2f\n",
        host.c_str(), hostCpu, seconds, 100 * hostCpu / seconds, clientCpu,
        100 * clientCpu / seconds, Ratio(hostCpu, clientCpu));
    std::printf(
        "  %s host private bytes %.0f KiB; client (baseline) %.0f KiB; ratio %.2f; host "
        "growth over the period %.0f KiB\n",
        host.c_str(), hostPrivate / 1024, clientPrivate / 1024, Ratio(hostPrivate, clientPrivate),
        hostGrowth / 1024);
  };
  std::printf("GetProcessTimes / GetProcessMemoryInfo (PrivateUsage):\n");
  for (auto& host : hosts) {
    report(host->name(), host->after().host.cpuSeconds - host->before().host.cpuSeconds,
           base.after().client.cpuSeconds - base.before().client.cpuSeconds,
           host->after().host.privateBytes, base.after().client.privateBytes,
           host->after().host.privateBytes - host->before().host.privateBytes);
    std::printf("  %s working set: host %.0f KiB, client %.0f KiB\n", host->name().c_str(),
                host->after().host.workingSet / 1024, base.after().client.workingSet / 1024);
  }
  if (base.after().host.privateBytes <= 0)
    std::printf("  (Wine leaves PrivateUsage at 0 for other processes: see below)\n");
  std::printf("the Unix processes behind them (/proc: utime+stime, RssAnon):\n");
  for (auto& host : hosts) {
    const MeasuredHost::Snapshot &b = host->before(), &a = host->after();
    if (a.hostLinux.cpuSeconds < 0 || base.after().clientLinux.cpuSeconds < 0) {
      std::printf("  the %s host's Unix processes were not found under Z:\\proc\n",
                  host->name().c_str());
      continue;
    }
    report(host->name(), a.hostLinux.cpuSeconds - b.hostLinux.cpuSeconds,
           base.after().clientLinux.cpuSeconds - base.before().clientLinux.cpuSeconds,
           a.hostLinux.privateBytes, base.after().clientLinux.privateBytes,
           a.hostLinux.privateBytes - b.hostLinux.privateBytes);
  }
  return 0;
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  return keldran::bench::GuardedMain("bench_host_idle", keldran::test::Main, argc, argv);
}
