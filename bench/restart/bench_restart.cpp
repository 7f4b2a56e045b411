// bench_restart: the time from a client's death to its replacement's Connect under the real host
// (a test client that connects and exits 1.5 s later, 20 times over), median and worst. The
// baseline, measured in the same run, is the floor of any restart: starting the same client
// process and having it find and Connect to a bare object (the stand-in host), 20 times. The
// host hears of the death at once (it waits on the client's process); a client that lived less
// than a second would wait for the one-start-a-second rule, so this one lives longer.
//
//   bench_restart [/deaths=N]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"
#include "support_win32/stand_in_host.h"

namespace keldran::test {
namespace {

struct Spread {
  double median = 0;
  double worst = 0;
};

Spread SpreadOf(const std::vector<double>& values) {
  if (values.empty()) return {};
  return {bench::Median(values), *std::max_element(values.begin(), values.end())};
}

// Death to the next instance's Connect: each instance's process is watched for its end (a
// client writes "exit" well before its process is gone), and the next one's Connect is stamped
// in the clients' out file (GetTickCount).
bool HostRestarts(int deaths, std::vector<double>* delays) {
  HostRun run;
  HostSetup setup;
  setup.script = "wait=1500\nexit=3\n";
  setup.timeoutSeconds = 60;
  if (!run.Prepare(setup) || run.Start() != 0) return false;
  std::vector<DWORD> ends;
  for (int i = 0; i < deaths; ++i) {
    if (!run.WaitForOutCount(" start instance=", static_cast<size_t>(i) + 1, 20000)) break;
    const std::vector<DWORD> pids = ClientPids(run.Out());
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pids[static_cast<size_t>(i)]);
    if (!process) break;
    const bool ended = WaitForSingleObject(process, 20000) == WAIT_OBJECT_0;
    ends.push_back(GetTickCount());
    CloseHandle(process);
    if (!ended) break;
  }
  const bool enough =
      ends.size() == static_cast<size_t>(deaths) &&
      run.WaitForOutCount("connected thread=", static_cast<size_t>(deaths) + 1, 20000);
  (void)run.RunAgain("/Stop");
  if (!enough) {
    std::printf("the host restarted too few clients\n%s\n", run.Log().c_str());
    return false;
  }
  const std::string out = run.Out();
  for (int i = 0; i < deaths; ++i) {
    const unsigned long connected = StampOf(out, "connected thread=", static_cast<size_t>(i) + 1);
    if (connected < ends[static_cast<size_t>(i)]) return false;
    delays->push_back(static_cast<double>(connected - ends[static_cast<size_t>(i)]));
  }
  return true;
}

// Process start to Connect of the same client against the stand-in host.
bool BareStarts(int count, std::vector<double>* delays) {
  StandInHost host;
  if (FAILED(host.Start())) return false;
  ScratchDir dir;
  for (int i = 0; i < count; ++i) {
    const std::string out = dir.File("client" + std::to_string(i) + ".out");
    ChildProcess client;
    const DWORD started = GetTickCount();
    if (client.Start("\"" + ProgramPath("KeldranTestClient.exe") + "\" /out=" + out +
                     " /do=exit=0 /ServiceID=" + host.serviceId() + " /ServiceName=Stand In") !=
        0) {
      return false;
    }
    if (!client.WaitForExit(20000)) return false;
    const unsigned long connected =
        StampOf(dir.Read("client" + std::to_string(i) + ".out"), "connected thread=");
    if (connected < started) return false;
    delays->push_back(static_cast<double>(connected - started));
  }
  return true;
}

int Main(int argc, char** argv) {
  const int deaths = bench::IntOption(argc, argv, "/deaths=", 20);
  ComApartment apartment;
  TypeLibRegistration typeLib(AgentExePath());
  if (FAILED(typeLib.result())) {
    std::printf("cannot register the type library\n");
    return 1;
  }
  std::vector<double> bare, host;
  if (!BareStarts(deaths, &bare) || !HostRestarts(deaths, &host)) {
    std::printf("bench_restart: a run failed\n");
    return 1;
  }
  const Spread b = SpreadOf(bare), h = SpreadOf(host);
  std::printf("client death to its replacement's Connect, %d restarts by the host:\n", deaths);
  std::printf("  host:     median %.0f ms, worst %.0f ms\n", h.median, h.worst);
  std::printf(
      "  baseline: client start to Connect on a bare object: median %.0f ms, worst %.0f ms\n",
      b.median, b.worst);
  std::printf(
      "  ratio host/baseline: median %.2f, worst %.2f; median difference %+.0f ms (goal: "
      "within 50 ms)\n",
      b.median > 0 ? h.median / b.median : 0, b.worst > 0 ? h.worst / b.worst : 0,
      h.median - b.median);
  return 0;
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  return keldran::bench::GuardedMain("bench_restart", keldran::test::Main, argc, argv);
}
