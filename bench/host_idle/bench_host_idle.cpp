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

#include "support_win32/com_util.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"
#include "support_win32/stand_in_host.h"

namespace keldran::test {
namespace {

class ProcessHandle {
 public:
  explicit ProcessHandle(DWORD pid)
      : h_(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)) {}
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  ~ProcessHandle() {
    if (h_) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

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
  int seconds = 60;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("/seconds=", 0) == 0) seconds = std::max(1, std::atoi(arg.c_str() + 9));
  }
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
  ProcessHandle host(run.host().Id());
  ProcessHandle client(clients.empty() ? 0 : clients[0]);
  if (!host.get() || !client.get()) {
    std::printf("cannot open the processes: error %lu\n", GetLastError());
    return 1;
  }
  // Let start-up settle before the measured period.
  Sleep(2000);
  const Usage hostBefore = Measure(host.get()), clientBefore = Measure(client.get());
  std::printf("measuring host and client for %d s...\n", seconds);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  const Usage hostAfter = Measure(host.get()), clientAfter = Measure(client.get());
  const size_t heartbeats = run.OutCount("call Running hr=0x00000000");
  (void)run.RunAgain("/Stop");

  if (hostBefore.cpuSeconds < 0 || clientBefore.cpuSeconds < 0) {
    std::printf("GetProcessTimes is not available for other processes here\n");
    return 1;
  }
  const double hostCpu = hostAfter.cpuSeconds - hostBefore.cpuSeconds;
  const double clientCpu = clientAfter.cpuSeconds - clientBefore.cpuSeconds;
  std::printf("heartbeats seen by the client: %zu\n", heartbeats);
  std::printf(
      "host CPU: %.3f s in %d s (%.3f%% of one core); client (baseline): %.3f s (%.3f%%)"
      "; ratio %.2f\n",
      hostCpu, seconds, 100 * hostCpu / seconds, clientCpu, 100 * clientCpu / seconds,
      Ratio(hostCpu, clientCpu));
  std::printf(
      "host private bytes: %.0f KiB (working set %.0f KiB); client (baseline): %.0f KiB"
      " (working set %.0f KiB); ratio %.2f\n",
      hostAfter.privateBytes / 1024, hostAfter.workingSet / 1024, clientAfter.privateBytes / 1024,
      clientAfter.workingSet / 1024, Ratio(hostAfter.privateBytes, clientAfter.privateBytes));
  std::printf("host private bytes growth over the period: %.0f KiB\n",
              (hostAfter.privateBytes - hostBefore.privateBytes) / 1024);
  return 0;
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  try {
    return keldran::test::Main(argc, argv);
  } catch (...) {
    std::printf("bench_host_idle: unexpected exception\n");
    return 1;
  }
}
