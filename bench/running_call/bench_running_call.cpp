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

#include "keldran_service.h"
#include "support_win32/com_util.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"
#include "support_win32/stand_in_host.h"

namespace keldran::test {
namespace {

constexpr int kWarmUpCalls = 200;

std::string SelfPath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
}

// ---- the client process ------------------------------------------------------------------

[[nodiscard]] HRESULT FindService(const std::string& serviceId, ComPtr<IService>& service) {
  const ULONGLONG deadline = GetTickCount64() + 10000;
  for (;;) {
    ComPtr<IRunningObjectTable> table;
    ComPtr<IMoniker> moniker;
    ComPtr<IUnknown> object;
    HRESULT hr = GetRunningObjectTable(0, table.put());
    if (SUCCEEDED(hr)) hr = CreateFileMoniker(Widen(serviceId).c_str(), moniker.put());
    if (SUCCEEDED(hr)) hr = table->GetObject(moniker.get(), object.put());
    if (SUCCEEDED(hr) && object) return object->QueryInterface(IID_IService, service.put_void());
    if (GetTickCount64() >= deadline) return FAILED(hr) ? hr : E_FAIL;
    Sleep(50);
  }
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
  return "\"" + SelfPath() + "\" /client " + std::to_string(calls) + " " + resultFile;
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
  StandInHost host;
  if (FAILED(host.Start())) return -1;
  ScratchDir dir;
  const std::string result = dir.File("result.txt");
  RunOptions options;
  options.timeoutMs = 120000;
  const RunResult run = test::Run(
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

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
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
  std::printf("median: bare dual object %.1f us/call, host %.1f us/call\n", Median(bare),
              Median(host));
  std::printf("ratio host/bare: median %.3f, min %.3f, max %.3f (goal <= 1.05)\n", Median(ratios),
              *std::min_element(ratios.begin(), ratios.end()),
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
  int calls = 5000, rounds = 7;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("/calls=", 0) == 0) calls = std::max(1, std::atoi(arg.c_str() + 7));
    if (arg.rfind("/rounds=", 0) == 0) rounds = std::max(1, std::atoi(arg.c_str() + 8));
  }
  return RunBenchmark(calls, rounds);
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  try {
    return keldran::test::Main(argc, argv);
  } catch (...) {
    std::printf("bench_running_call: unexpected exception\n");
    return 1;
  }
}
