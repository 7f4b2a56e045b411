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
#include <set>
#include <string>
#include <vector>

namespace {

// Owns a kernel handle for the scope; null means none.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_) CloseHandle(h_);
  }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

constexpr int kCannotRun = 2;
constexpr DWORD kPollMs = 50;

void PrintLine(const char* prefix, const std::string& text) {
  std::printf("%s%s\n", prefix, text.c_str());
  std::fflush(stdout);
}

void Usage() {
  std::fprintf(stderr,
               "usage: run_exit_code [--timeout-ms N] [--dismiss-boxes] -- <program> [args...]\n");
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

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string WindowText(HWND hwnd) {
  char text[4096];
  int n = GetWindowTextA(hwnd, text, sizeof text);
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// The message text of a standard message box: its Static control with id 0xFFFF, or else the
// first Static child that has any text (the icon is a Static without text).
std::string BoxText(HWND box) {
  if (HWND item = GetDlgItem(box, 0xFFFF)) {
    std::string text = WindowText(item);
    if (!text.empty()) return text;
  }
  struct Search {
    std::string text;
  } search;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        char cls[32];
        if (GetClassNameA(child, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0) {
          s->text = WindowText(child);
          if (!s->text.empty()) return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.text;
}

// Dialog-class top-level windows of one process.
std::vector<HWND> FindBoxes(DWORD processId) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{processId, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        char cls[32];
        if (pid == s->pid && GetClassNameA(hwnd, cls, sizeof cls) && lstrcmpA(cls, "#32770") == 0 &&
            IsWindowVisible(hwnd)) {
          s->found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
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
    Usage();
    return kCannotRun;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<char> commandLine(options.commandLine.begin(), options.commandLine.end());
  commandLine.push_back('\0');
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "cannot start %s: error %lu\n", options.commandLine.c_str(),
                 GetLastError());
    return kCannotRun;
  }
  Handle process(info.hProcess);
  Handle thread(info.hThread);

  // A box stays listed for a moment after its OK was posted: report each one once.
  std::set<HWND> dismissed;
  const ULONGLONG start = GetTickCount64();
  bool timedOut = false;
  for (;;) {
    if (WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0) break;
    if (options.dismissBoxes) {
      for (HWND box : FindBoxes(info.dwProcessId)) {
        if (!dismissed.insert(box).second) continue;
        PrintLine("box caption: ", Escape(WindowText(box)));
        PrintLine("box text: ", Escape(BoxText(box)));
        PostMessageA(box, WM_COMMAND, IDOK, 0);
      }
    }
    if (options.timeoutMs != INFINITE && GetTickCount64() - start >= options.timeoutMs) {
      timedOut = true;
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
      break;
    }
  }

  if (timedOut) {
    std::printf("timeout: killed after %lu ms\n", static_cast<unsigned long>(options.timeoutMs));
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    std::printf("exit code: 0x%08lX (%lu)\n", static_cast<unsigned long>(code),
                static_cast<unsigned long>(code));
  }
  std::fflush(stdout);
  return 0;
}
