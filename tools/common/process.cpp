#include "common/process.h"

#include <algorithm>

#include "common/handle.h"

namespace keldran::tools {
namespace {

std::string WindowText(HWND hwnd) {
  char text[4096];
  int n = GetWindowTextA(hwnd, text, sizeof text);
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// The message text of a standard message box: its Static control with id 0xFFFF, or else the
// first Static child with text (the icon is a Static without text).
std::string BoxText(HWND box) {
  if (HWND item = GetDlgItem(box, 0xFFFF)) {
    std::string text = WindowText(item);
    if (!text.empty()) return text;
  }
  std::string found;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        auto* text = reinterpret_cast<std::string*>(param);
        char cls[32];
        if (GetClassNameA(child, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0) {
          *text = WindowText(child);
          if (!text->empty()) return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// Visible dialog-class (#32770) top-level windows of one process: its message boxes.
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
        if (pid == s->pid && IsWindowVisible(hwnd) && GetClassNameA(hwnd, cls, sizeof cls) &&
            lstrcmpA(cls, "#32770") == 0) {
          s->found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (process_) {
    if (IsRunning()) Kill();
    CloseHandle(process_);
  }
}

DWORD ChildProcess::Start(const std::string& commandLine, const RunOptions& options) {
  if (process_) return ERROR_ALREADY_EXISTS;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle output(options.outputFile.empty()
                    ? INVALID_HANDLE_VALUE
                    : CreateFileA(options.outputFile.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!options.outputFile.empty()) {
    if (!output.valid()) return GetLastError();
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
  }
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, output.valid(), 0, nullptr, nullptr,
                      &startup, &info)) {
    return GetLastError();
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  handleBoxes_ = options.handleBoxes;
  return 0;
}

bool ChildProcess::IsRunning() const {
  return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::WaitForExit(DWORD ms) {
  if (!process_) return true;
  if (!handleBoxes_) return WaitForSingleObject(process_, ms) == WAIT_OBJECT_0;
  constexpr DWORD kBoxPollMs = 50;
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    CollectBoxes();
    const ULONGLONG now = GetTickCount64();
    const DWORD wait =
        now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kBoxPollMs));
    if (WaitForSingleObject(process_, wait) == WAIT_OBJECT_0) return true;
    if (GetTickCount64() >= deadline) return false;
  }
}

void ChildProcess::Kill(UINT exitCode) {
  if (!process_) return;
  TerminateProcess(process_, exitCode);
  WaitForSingleObject(process_, 10000);
}

DWORD ChildProcess::ExitCode() const {
  DWORD code = 0;
  if (!process_ || !GetExitCodeProcess(process_, &code)) return 0;
  return code;
}

const std::vector<MessageBoxSeen>& ChildProcess::CollectBoxes() {
  for (HWND box : FindBoxes(id_)) {
    // A box stays listed for a moment after its OK was posted: take each one once.
    bool known = false;
    for (HWND seen : dismissed_) known = known || seen == box;
    if (known) continue;
    dismissed_.push_back(box);
    boxes_.push_back({WindowText(box), BoxText(box)});
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return boxes_;
}

RunResult RunProgram(const std::string& commandLine, const RunOptions& options) {
  RunResult result;
  ChildProcess child;
  result.startError = child.Start(commandLine, options);
  if (result.startError != 0) return result;
  result.started = true;
  if (!child.WaitForExit(options.timeoutMs)) {
    result.timedOut = true;
    child.Kill();
  }
  result.exitCode = child.ExitCode();
  result.boxes = child.boxes();
  return result;
}

}  // namespace keldran::tools
