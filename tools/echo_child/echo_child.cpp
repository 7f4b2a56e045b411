// A console client for the Windows tests: writes its command line and the host's parameter
// variable, one per line, to the file named by its first argument ("-" for none), then follows
// its steps in order (anything else is ignored):
//   wait          until killed, or until Ctrl+C or Ctrl+Break (writes "ctrl <event>", exits 0)
//   exit=<code>   exits with the code
//   out=<text>    writes the text and a line break to standard output (err=: error)
//   sleep=<ms>    waits that long
//   report=<NAME> writes "env NAME=value" ("<unset>" when missing), "priority 0x..." (the
//                 priority class) and "affinity 0x..." (the affinity mask)
//   flood=<MB>    writes that many megabytes of numbered lines to standard output, at full speed
//   pid, stamp    writes "pid <process id>", or "stamp <tick count>"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::FILE* g_out = nullptr;

void Note(const char* format, const char* text, unsigned long long number = 0) {
  if (!g_out) return;
  std::fprintf(g_out, format, text, number);
  std::fflush(g_out);
}

BOOL WINAPI OnCtrl(DWORD event) noexcept {
  Note("ctrl %s%llu\n", "", event);
  ExitProcess(0);
}

void Report(const char* name) {
  char value[4096];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  const std::string line =
      std::string("env ") + name + "=" + (n > 0 && n < sizeof value ? value : "<unset>");
  Note("%s\n", line.c_str());
  Note("priority 0x%s%llX\n", "", GetPriorityClass(GetCurrentProcess()));
  DWORD_PTR process = 0, system = 0;
  GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
  Note("affinity 0x%s%llX\n", "", process);
}

void Flood(long megabytes) {
  const unsigned long long bytes = static_cast<unsigned long long>(megabytes) << 20;
  for (unsigned long long n = 0, written = 0; written < bytes; ++n)
    written += static_cast<unsigned long long>(
        std::printf("line %012llu of the flood, as fast as the pipe takes it\n", n));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "-") != 0) {
    g_out = std::fopen(argv[1], "ab");
    if (!g_out) return 3;
    const char* params = std::getenv("KeldranService_PDF_PARAMS");
    std::fprintf(g_out, "%s\n%s\n", GetCommandLineA(), params ? params : "<unset>");
    std::fflush(g_out);
  }
  SetConsoleCtrlHandler(&OnCtrl, TRUE);
  for (int i = 2; i < argc; ++i) {
    const char* step = argv[i];
    const char* value = std::strchr(step, '=');
    value = value ? value + 1 : "";
    if (std::strcmp(step, "wait") == 0) {
      for (;;) Sleep(INFINITE);
    } else if (std::strncmp(step, "exit=", 5) == 0) {
      return std::atoi(value);
    } else if (std::strncmp(step, "out=", 4) == 0 || std::strncmp(step, "err=", 4) == 0) {
      std::FILE* stream = step[0] == 'o' ? stdout : stderr;
      std::fprintf(stream, "%s\n", value);
      std::fflush(stream);
    } else if (std::strncmp(step, "sleep=", 6) == 0) {
      Sleep(static_cast<DWORD>(std::atol(value)));
    } else if (std::strncmp(step, "report=", 7) == 0) {
      Report(value);
    } else if (std::strncmp(step, "flood=", 6) == 0) {
      Flood(std::atol(value));
    } else if (std::strcmp(step, "pid") == 0 || std::strcmp(step, "stamp") == 0) {
      Note("%s %llu\n", step, step[0] == 'p' ? GetCurrentProcessId() : GetTickCount64());
    }
  }
  return 0;
}
