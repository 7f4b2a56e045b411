// The child-process wrapper and the path macros %DIR% and %ROOTDIR%.
#include "supervision/process.h"

namespace keldran {
namespace {

constexpr std::uint32_t kKilledExitCode = win32_error::kTimeout;  // 1460, as every kill uses
// A long wait is made of slices, so that a restart on the run loop's thread never has to close
// a handle that another thread is waiting on (Windows leaves that undefined), and waits at
// most one slice for the handle lock.
constexpr std::uint32_t kWaitSliceMs = 100;

// The buffers of the original design hold MAX_PATH characters with the terminating NUL, so a
// longer text keeps its first 259 characters; a cut path will not name anything, and the start
// or file operation that uses it reports that.
std::string CutToPathBuffer(const std::string& text) {
  return text.substr(0, Process::kPathBuffer - 1);
}

bool EndsWithBinIgnoringCase(const std::string& text) {
  if (text.size() < 4) return false;
  const char* tail = text.c_str() + text.size() - 4;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return tail[0] == '\\' && lower(tail[1]) == 'b' && lower(tail[2]) == 'i' && lower(tail[3]) == 'n';
}

}  // namespace

Process::Process(Platform& platform)
    : platform_(platform), handleLock_(platform.sync.CreateCriticalSection(0)) {}

Process::~Process() {
  if (!HasEnded()) Terminate(kKilledExitCode);
  LockGuard guard(*handleLock_);
  CloseHandles();
}

bool Process::Start(const std::string& commandLine, std::uint16_t showState, Win32Error* error,
                    const std::optional<std::string>& environment) {
  const std::string expanded = ExpandFileMacros(commandLine);
  const std::string directory = BaseDir();
  ProcessInformation started;
  const Win32Error e =
      platform_.processes.CreateProcess(expanded, showState, environment, directory, &started);
  if (e != 0) {
    // The earlier child, if any, stays known, so it can still be waited for or killed.
    if (error) *error = e;
    SetLastResultFromError(e);
    return false;
  }
  // The host restarts its client for as long as it runs: the handles of the child being
  // replaced are closed here, or every restart would leak two of them.
  LockGuard guard(*handleLock_);
  CloseHandles();
  info_ = started;
  return true;
}

bool Process::HasEnded() {
  LockGuard guard(*handleLock_);
  if (!info_.process) return true;
  return platform_.processes.WaitForProcess(info_.process, 0) == wait_result::kObject0;
}

bool Process::WaitForEnd(std::uint32_t milliseconds) {
  std::uint32_t left = milliseconds;
  for (;;) {
    const std::uint32_t slice = left < kWaitSliceMs ? left : kWaitSliceMs;
    {
      LockGuard guard(*handleLock_);
      if (!info_.process) return true;
      if (platform_.processes.WaitForProcess(info_.process, slice) != wait_result::kTimeout)
        return true;
    }
    if (milliseconds == kInfinite) continue;
    left -= slice;
    if (left == 0) return false;
  }
}

void Process::Terminate(std::uint32_t exitCode) {
  LockGuard guard(*handleLock_);
  if (info_.process) (void)platform_.processes.TerminateProcess(info_.process, exitCode);
}

void Process::SetWorkingDir(const std::string& directory) {
  // The working directory defaults to the client program's own, so a client configured as
  // "%DIR%\client.exe" arrives here as "%DIR%". Inside the working directory the macros cannot
  // stand for the working directory itself: there they mean the executable's directory.
  workingDir_.clear();
  rootDir_.clear();
  workingDir_ = CutToPathBuffer(ExpandFileMacros(directory));
  rootDir_.clear();  // RootDir may have been worked out from the module directory just now
}

std::string Process::BaseDir() { return workingDir_.empty() ? ModuleDirectory() : workingDir_; }

std::string Process::RootDir() {
  if (!rootDir_.empty()) return rootDir_;
  rootDir_ = CutToPathBuffer(BaseDir());
  if (rootDir_.size() < 6) return rootDir_;
  if (rootDir_.back() == '\\') rootDir_.pop_back();
  if (EndsWithBinIgnoringCase(rootDir_)) rootDir_.resize(rootDir_.size() - 4);
  return rootDir_;
}

std::string Process::ExpandFileMacros(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    out.append(text, pos, open - pos);
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) {
      pos = open + 1;  // a lone sign is dropped
      break;
    }
    const std::string name = text.substr(open + 1, close - open - 1);
    if (name == "DIR") {
      out += BaseDir();
    } else if (name == "ROOTDIR") {
      out += RootDir();
    } else {
      out += '%';
      out += name;
      out += '%';
    }
    pos = close + 1;
  }
  if (pos < text.size()) out.append(text, pos, std::string::npos);
  return out;
}

void Process::SetLastResultFromError(Win32Error error) {
  lastResult_ = HResultFromWin32(error);
  if (!Failed(lastResult_)) lastResult_ = kEFail;
}

std::string Process::ModuleDirectory() {
  if (!moduleDir_) {
    const std::string path = CutToPathBuffer(platform_.processes.ModuleFileName());
    const std::size_t slash = path.rfind('\\');
    moduleDir_ = slash == std::string::npos || slash == 0 ? path : path.substr(0, slash);
  }
  return *moduleDir_;
}

void Process::CloseHandles() {
  if (info_.process) platform_.processes.CloseProcess(info_.process);
  if (info_.thread) platform_.processes.CloseThread(info_.thread);
  info_ = ProcessInformation{};
}

}  // namespace keldran
