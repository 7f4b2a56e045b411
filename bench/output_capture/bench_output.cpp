// bench_output: a console client that prints 50 MB of lines to standard output as fast as it can
// (echo_child flood=50), under the real host with its output captured (the lines go through the
// pipes into the day's output file) and, in the same run, with CaptureOutput=0 (the client
// writes into a console of its own), as the baseline. The figure is the client's own time for
// the flood, from its tick count before and after, and its rate.
//
// Wine's console takes a hidden console's output far more slowly than a pipe: the baseline
// floods /baseline= megabytes (1 by default) and is given /limit= seconds (120); a baseline that
// has not finished by then is reported as such, with the least ratio that it shows.
//
//   bench_output [/megabytes=N] [/baseline=N] [/limit=S]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_util.h"
#include "support_win32/e2e_support.h"
#include "support_win32/host_run.h"

namespace keldran::test {
namespace {

// The client's flood in milliseconds; 0 when it did not end within the limit; negative when the
// run failed.
double FloodUnderHost(int megabytes, bool capture, DWORD limitMs, unsigned long long* fileBytes) {
  HostRun run;
  HostSetup setup;
  setup.timeoutSeconds = 600;
  setup.clientCommand = "\"" + ProgramPath("echo_child.exe") +
                        "\" client.out stamp flood=" + std::to_string(megabytes) + " stamp exit=0";
  setup.iniLines = {"StopExitCodes=0", capture ? "CaptureOutput=1" : "CaptureOutput=0"};
  if (!run.Prepare(setup) || run.Start() != 0) return -1;
  if (!run.host().WaitForExit(limitMs)) return 0;
  const std::string out = run.Out();
  const size_t first = out.find("\nstamp ");
  const size_t second = first == std::string::npos ? first : out.find("\nstamp ", first + 1);
  if (second == std::string::npos) {
    std::printf("the client left no stamps\n%s\n", out.c_str());
    return -1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  *fileBytes = 0;
  if (GetFileAttributesExA(
          run.dir().File("logs\\" + run.component() + "-output-" + DayFileName()).c_str(),
          GetFileExInfoStandard, &data)) {
    *fileBytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return static_cast<double>(std::strtoull(out.c_str() + second + 7, nullptr, 10) -
                             std::strtoull(out.c_str() + first + 7, nullptr, 10));
}

int Main(int argc, char** argv) {
  const int megabytes = bench::IntOption(argc, argv, "/megabytes=", 50);
  const int baseline = bench::IntOption(argc, argv, "/baseline=", 1);
  const int limit = bench::IntOption(argc, argv, "/limit=", 120);
  unsigned long long captured = 0, none = 0;
  const double host = FloodUnderHost(megabytes, true, 600000, &captured);
  const double bare = FloodUnderHost(baseline, false, static_cast<DWORD>(limit) * 1000, &none);
  if (bare < 0 || host <= 0) {
    std::printf("bench_output: a run failed\n");
    return 1;
  }
  const double hostRate = megabytes * 1000.0 / host;
  std::printf("a client printing lines to standard output as fast as it can, under the host:\n");
  std::printf("  captured:  %d MB in %.0f ms (%.1f MB/s), output file %.1f MB\n", megabytes, host,
              hostRate, captured / 1048576.0);
  if (bare == 0) {
    std::printf(
        "  baseline, CaptureOutput=0 (a console of its own): %d MB not done after %d s "
        "(below %.3f MB/s)\n  ratio of rates captured/baseline: above %.0f\n",
        baseline, limit, baseline / static_cast<double>(limit), hostRate * limit / baseline);
    return 0;
  }
  const double bareRate = baseline * 1000.0 / bare;
  std::printf("  baseline, CaptureOutput=0 (a console of its own): %d MB in %.0f ms (%.3f MB/s)\n",
              baseline, bare, bareRate);
  std::printf("  ratio of rates captured/baseline: %.2f\n", hostRate / bareRate);
  return 0;
}

}  // namespace
}  // namespace keldran::test

int main(int argc, char** argv) {
  return keldran::bench::GuardedMain("bench_output", keldran::test::Main, argc, argv);
}
