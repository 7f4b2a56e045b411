// run_exit_code.exe [--timeout-ms N] [--dismiss-boxes] -- <program> [args...]
//
// Starts the program, waits for it and prints "exit code: 0x%08X (%lu)". With --dismiss-boxes it
// reports every message box of the program ("box caption: ..." / "box text: ...") and presses its
// OK button, so that a program that ends with a notice can run unattended. On time-out the
// program is killed. Exit status: 0 when the program could be run, 2 otherwise.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/process.h"
#include "common/text.h"

namespace {

using keldran::tools::ChildProcess;
using keldran::tools::OneLine;
using keldran::tools::RunOptions;

constexpr int kCannotRun = 2;
constexpr DWORD kPollMs = 50;

void PrintLine(const char* prefix, const std::string& text) {
  std::printf("%s%s\n", prefix, text.c_str());
  std::fflush(stdout);
}

// Quotes one argument so that the C runtime of the child parses it back unchanged: backslashes
// double only where they precede a quote.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      quoted.append(backslashes * 2 + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

struct Options {
  DWORD timeoutMs = INFINITE;
  bool dismissBoxes = false;
  std::string commandLine;
};

bool ParseArgs(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--dismiss-boxes") {
      options.dismissBoxes = true;
    } else if (arg == "--timeout-ms" && i + 1 < argc) {
      char* end = nullptr;
      unsigned long ms = std::strtoul(argv[++i], &end, 10);
      if (!end || *end != '\0') return false;
      options.timeoutMs = static_cast<DWORD>(ms);
    } else {
      return false;
    }
  }
  if (i >= argc) return false;
  for (int first = i; i < argc; ++i) {
    if (i > first) options.commandLine += ' ';
    options.commandLine += QuoteArgument(argv[i]);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Plain LF line ends: the readers are shell scripts, which would keep a CR in every value.
  _setmode(_fileno(stdout), _O_BINARY);
  Options options;
  if (!ParseArgs(argc, argv, options)) {
    std::fprintf(
        stderr, "usage: run_exit_code [--timeout-ms N] [--dismiss-boxes] -- <program> [args...]\n");
    return kCannotRun;
  }

  ChildProcess child;
  RunOptions runOptions;
  runOptions.handleBoxes = options.dismissBoxes;
  if (const DWORD error = child.Start(options.commandLine, runOptions); error != 0) {
    std::fprintf(stderr, "cannot start %s: error %lu\n", options.commandLine.c_str(), error);
    return kCannotRun;
  }

  const ULONGLONG start = GetTickCount64();
  size_t reported = 0;
  bool timedOut = false;
  for (;;) {
    const bool ended = child.WaitForExit(kPollMs);
    for (; reported < child.boxes().size(); ++reported) {
      PrintLine("box caption: ", OneLine(child.boxes()[reported].caption));
      PrintLine("box text: ", OneLine(child.boxes()[reported].text));
    }
    if (ended) break;
    if (options.timeoutMs != INFINITE && GetTickCount64() - start >= options.timeoutMs) {
      timedOut = true;
      child.Kill(1);
      break;
    }
  }

  if (timedOut) {
    std::printf("timeout: killed after %lu ms\n", static_cast<unsigned long>(options.timeoutMs));
  } else {
    const DWORD code = child.ExitCode();
    std::printf("exit code: 0x%08lX (%lu)\n", static_cast<unsigned long>(code),
                static_cast<unsigned long>(code));
  }
  std::fflush(stdout);
  return 0;
}
