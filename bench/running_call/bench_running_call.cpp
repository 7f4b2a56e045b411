// bench_running_call: the time of one IService::Running call from a client process to the real
// host, against the same call to a bare dual object registered in the running-object table the
// same way (the stand-in host), measured in the same run with the same client code. Rounds
// alternate between the two; each round is a fresh client process that connects, warms up and
// times its calls. Goal: host / bare <= 1.05.
//
//   bench_running_call [/calls=N] [/rounds=N]
//   bench_running_call /client <calls> <result file> /ServiceID=<id> /ServiceName=<name>
#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "keldran_service.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"
#include "support_win32/stand_in_host.h"

namespace keldran::test {
namespace {

constexpr int kWarmUpCalls = 200;

// ---- the client process ------------------------------------------------------------------

[[nodiscard]] HRESULT FindService(const std::string& serviceId, ComPtr<IService>& service) {
  ComPtr<IUnknown> object;
  const HRESULT hr = FindRunningObject(serviceId, 10000, 50, object);
  return FAILED(hr) ? hr : object->QueryInterface(IID_IService, service.put_void());
}

int RunClient(int calls, const std::string& resultFile, const std::string& serviceId) {
  ComApartment apartment;
  ComPtr<IService> service;
  if (FAILED(apartment.result()) || FAILED(FindService(serviceId, service))) return 3;
  LONG threadId = 0;
  if (FAILED(service->Connect(0, &threadId))) return 3;
  for (int i = 0; i < kWarmUpCalls; ++i) (void)service->Running();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int failures = 0;
  for (int i = 0; i < calls; ++i) failures += FAILED(service->Running()) ? 1 : 0;
  QueryPerformanceCounter(&end);
  const double microseconds = 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                              static_cast<double>(frequency.QuadPart) / calls;
  char text[64];
  std::snprintf(text, sizeof text, "%.3f %d\n", microseconds, failures);
  if (!WriteWholeFile(resultFile, text)) return 4;
  // The host ends its run (and then this process); the stand-in only notes the call.
  (void)service->Stop();
  return 0;
}

// ---- the driver ------------------------------------------------------------------------------

std::string ClientCommand(int calls, const std::string& resultFile) {
  return "\"" + ProgramPath("bench_running_call.exe") + "\" /client " + std::to_string(calls) +
         " " + resultFile;
}

// Microseconds per call, or a negative value when the round failed.
double ReadResult(const std::string& resultFile) {
  const std::optional<std::string> text = ReadWholeFile(resultFile);
  if (!text) return -1;
  double microseconds = -1;
  int failures = -1;
  if (std::sscanf(text->c_str(), "%lf %d", &microseconds, &failures) != 2 || failures != 0)
    return -1;
  return microseconds;
}

double BareRound(int calls) {
  // The host round before unregistered its component, and with it the shared type library that
  // marshals IService: the bare object needs it registered again.
  TypeLibRegistration typeLib(AgentExePath());
  if (FAILED(typeLib.result())) return -1;
  StandInHost host;
  if (FAILED(host.Start())) return -1;
  ScratchDir dir;
  const std::string result = dir.File("result.txt");
  RunOptions options;
  options.timeoutMs = 120000;
  const RunResult run = RunProgram(
      ClientCommand(calls, result) + " /ServiceID=" + host.serviceId() + " /ServiceName=Stand In",
      options);
  if (!run.started || run.exitCode != 0) return -1;
  return ReadResult(result);
}

double HostRound(int calls) {
  HostRun run;
  HostSetup setup;
  setup.clientCommand = ClientCommand(calls, run.dir().File("result.txt"));
  if (!run.Prepare(setup) || run.Start() != 0) return -1;
  if (!run.host().WaitForExit(120000) || run.host().ExitCode() != 0) return -1;
  return ReadResult(run.dir().File("result.txt"));
}

int RunBenchmark(int calls, int rounds) {
  ComApartment apartment;
  TypeLibRegistration typeLib(AgentExePath());
  if (FAILED(typeLib.result())) {
    std::printf("cannot register the type library: 0x%08lX\n",
                static_cast<unsigned long>(typeLib.result()));
    return 1;
  }
  std::printf("IService::Running round trip from a client process, %d calls a round\n", calls);
  std::vector<double> bare, host, ratios;
  for (int round = 0; round < rounds; ++round) {
    const double b = BareRound(calls);
    const double h = HostRound(calls);
    if (b <= 0 || h <= 0) {
      std::printf("round %d failed (bare %.3f, host %.3f)\n", round + 1, b, h);
      return 1;
    }
    bare.push_back(b);
    host.push_back(h);
    ratios.push_back(h / b);
    std::printf("  round %d: bare %.1f us, host %.1f us, ratio %.3f\n", round + 1, b, h, h / b);
    std::fflush(stdout);
  }
  std::printf("median: bare dual object %.1f us/call, host %.1f us/call\n", bench::Median(bare),
              bench::Median(host));
  std::printf("ratio host/bare: median %.3f, min %.3f, max %.3f (goal <= 1.05)\n",
              bench::Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
              *std::max_element(ratios.begin(), ratios.end()));
  return 0;
}

int Main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "/client") {
    // The host appends its parameters after ours.
    std::string serviceId;
    for (int i = 4; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg.rfind("/ServiceID=", 0) == 0) serviceId = arg.substr(11);
    }
    return RunClient(std::atoi(argv[2]), argv[3], serviceId);
  }
  return RunBenchmark(bench::IntOption(argc, argv, "/calls=", 5000),
                      bench::IntOption(argc, argv, "/rounds=", 7));
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  return keldran::bench::GuardedMain("bench_running_call", keldran::test::Main, argc, argv);
}
