// bench_host_idle: what the host costs while it supervises a healthy client that sends a
// heartbeat every second: its CPU time over a measured period (60 s by default) and its private
// bytes at the end, from GetProcessTimes and GetProcessMemoryInfo. The baseline, measured in the
// same run over the same period, is the client process itself: a message loop with a window, a
// COM apartment and one call a second from the other side.
//
//   bench_host_idle [/seconds=N]
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

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

int Main(int argc, char** argv) {
  const int seconds = bench::IntOption(argc, argv, "/seconds=", 60);
  ComApartment apartment;
  TypeLibRegistration typeLib(AgentExePath());
  HostRun run;
  HostSetup setup;
  setup.script = "heartbeat=1000\n";
  setup.timeoutSeconds = 60;
  if (FAILED(typeLib.result()) || !run.Prepare(setup) || run.Start() != 0 ||
      !run.WaitForOut("connected thread=", 20000)) {
    std::printf("the host or its client did not start\n%s\n", run.Log().c_str());
    return 1;
  }
  const std::vector<DWORD> clients = ClientPids(run.Out());
  constexpr DWORD kAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  const Handle host(OpenProcess(kAccess, FALSE, run.host().Id()));
  const Handle client(OpenProcess(kAccess, FALSE, clients.empty() ? 0 : clients[0]));
  if (!host.valid() || !client.valid()) {
    std::printf("cannot open the processes: error %lu\n", GetLastError());
    return 1;
  }
  const std::string hostUnix = bench::FindUnixProcess(run.ComponentArgument());
  const std::string clientUnix = bench::FindUnixProcess("/ServiceID=" + run.serviceId());
  // Let start-up settle before the measured period.
  Sleep(2000);
  const Usage hostBefore = Measure(host.get()), clientBefore = Measure(client.get());
  const bench::LinuxUsage hostLinuxBefore = bench::MeasureLinux(hostUnix);
  const bench::LinuxUsage clientLinuxBefore = bench::MeasureLinux(clientUnix);
  std::printf("measuring host and client for %d s...\n", seconds);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  const Usage hostAfter = Measure(host.get()), clientAfter = Measure(client.get());
  const bench::LinuxUsage hostLinux = bench::MeasureLinux(hostUnix),
                          clientLinux = bench::MeasureLinux(clientUnix);
  const size_t heartbeats = run.OutCount("call Running hr=0x00000000");
  (void)run.RunAgain("/Stop");

  std::printf("heartbeats seen by the client: %zu\n", heartbeats);
  auto report = [&](const char* source, double hostCpu, double clientCpu, double hostPrivate,
                    double clientPrivate, double hostGrowth) {
    std::printf("%s:\n", source);
    std::printf(
        "  host CPU %.3f s in %d s (%.3f%% of one core); client (baseline) %.3f s "
        "(%.3f%%); ratio %.2f\n",
        hostCpu, seconds, 100 * hostCpu / seconds, clientCpu, 100 * clientCpu / seconds,
        Ratio(hostCpu, clientCpu));
    std::printf(
        "  host private bytes %.0f KiB; client (baseline) %.0f KiB; ratio %.2f; host "
        "growth over the period %.0f KiB\n",
        hostPrivate / 1024, clientPrivate / 1024, Ratio(hostPrivate, clientPrivate),
        hostGrowth / 1024);
  };
  report("GetProcessTimes / GetProcessMemoryInfo (PrivateUsage)",
         hostAfter.cpuSeconds - hostBefore.cpuSeconds,
         clientAfter.cpuSeconds - clientBefore.cpuSeconds, hostAfter.privateBytes,
         clientAfter.privateBytes, hostAfter.privateBytes - hostBefore.privateBytes);
  std::printf("  working set: host %.0f KiB, client %.0f KiB\n", hostAfter.workingSet / 1024,
              clientAfter.workingSet / 1024);
  if (hostAfter.privateBytes <= 0)
    std::printf("  (Wine leaves PrivateUsage at 0 for other processes: see below)\n");
  if (hostLinux.cpuSeconds >= 0 && clientLinux.cpuSeconds >= 0) {
    report("the Unix processes behind them (/proc: utime+stime, RssAnon)",
           hostLinux.cpuSeconds - hostLinuxBefore.cpuSeconds,
           clientLinux.cpuSeconds - clientLinuxBefore.cpuSeconds, hostLinux.privateBytes,
           clientLinux.privateBytes, hostLinux.privateBytes - hostLinuxBefore.privateBytes);
  } else {
    std::printf("the Unix processes were not found under Z:\\proc\n");
  }
  return 0;
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  return keldran::bench::GuardedMain("bench_host_idle", keldran::test::Main, argc, argv);
}
