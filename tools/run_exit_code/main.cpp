// run_exit_code.exe [--timeout-ms N] [--dismiss-boxes] -- <program> [args...]
//
// Starts the program, waits for it and prints "exit code: 0x%08X (%lu)", which wine64's own exit
// status (the code modulo 256) cannot carry. With --dismiss-boxes it prints every message box of
// the program ("box caption: ..." / "box text: ...") and presses its OK button. On time-out the
// program is killed. Exit status: 0 when the program could be run, 2 otherwise.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/process.h"
#include "common/text.h"

int main(int argc, char** argv) {
  // Plain LF line ends: the readers are shell scripts, which would keep a CR in every value.
  _setmode(_fileno(stdout), _O_BINARY);
  DWORD timeoutMs = INFINITE;
  keldran::tools::RunOptions options;
  int i = 1;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) {
    if (std::string(argv[i]) == "--dismiss-boxes")
      options.handleBoxes = true;
    else if (std::string(argv[i]) == "--timeout-ms" && i + 1 < argc)
      timeoutMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
    else
      i = argc;
  }
  std::string commandLine;
  // An argument with a blank goes in double quotes (none of the callers' ends in a backslash).
  for (++i; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += arg.find(' ') == std::string::npos ? arg : "\"" + arg + "\"";
  }
  if (commandLine.empty()) {
    std::fprintf(stderr, "usage: run_exit_code [--timeout-ms N] [--dismiss-boxes] -- <program>\n");
    return 2;
  }

  keldran::tools::ChildProcess child;
  if (const DWORD error = child.Start(commandLine, options); error != 0) {
    std::fprintf(stderr, "cannot start %s: error %lu\n", commandLine.c_str(), error);
    return 2;
  }
  const ULONGLONG start = GetTickCount64();
  for (size_t reported = 0;;) {
    const bool ended = child.WaitForExit(50);
    for (; reported < child.boxes().size(); ++reported) {
      std::printf("box caption: %s\nbox text: %s\n",
                  keldran::tools::OneLine(child.boxes()[reported].caption).c_str(),
                  keldran::tools::OneLine(child.boxes()[reported].text).c_str());
      std::fflush(stdout);
    }
    if (ended) break;
    if (timeoutMs != INFINITE && GetTickCount64() - start >= timeoutMs) {
      child.Kill(1);
      std::printf("timeout: killed after %lu ms\n", timeoutMs);
      return 0;
    }
  }
  const DWORD code = child.ExitCode();
  std::printf("exit code: 0x%08lX (%lu)\n", code, code);
  return 0;
}
