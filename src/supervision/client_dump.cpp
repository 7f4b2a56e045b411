// A minidump of a client that the watchdog kills for its silence: where it hung is then still
// known after the kill.
#include "log/error_text.h"
#include "supervision/supervisor.h"

namespace keldran {

std::string Supervisor::DumpBeforeKill() {
  if (config_.DumpKeep <= 0 || config_.LogDir.empty()) return {};
  const SharedProcessHandle process = client_.Handle();
  if (!process) return {};
  IFileSystem& files = platform_.files;
  const std::string folder = config_.LogDir + "\\dumps";
  MakeFolders(files, folder);
  const std::uint32_t pid = client_.processId();
  const std::string path =
      folder + "\\" + DumpFileName(config_.ServiceComp, pid, platform_.clock.LocalNow());
  // Written on a thread of its own and waited for a bounded time: a dump that hangs must not
  // keep a hung client alive.
  const Win32Error e = platform_.processes.WriteMiniDump(*process, pid, path, kDumpWaitMs);
  if (e != 0) {
    const std::string message =
        "No minidump of the client before its kill: " + path +
        (e == win32_error::kTimeout
             ? Format("\n\nIt was not written within %u s.", kDumpWaitMs / 1000)
             : errorText(platform_.texts, e));
    events_.logWarning(category::kRun, event::kText, message.c_str());
    return {};
  }
  try {
    for (const std::string& name :
         DumpsBeyondKeep(files.ListFiles(folder), config_.ServiceComp, config_.DumpKeep)) {
      (void)files.DeleteFile(platform_.texts.AnsiToWide(folder + "\\" + name));
    }
  } catch (...) {
    // The dumps beyond the count are housekeeping: the next dump tries again.
  }
  LockGuard guard(*lock_);
  lastDump_ = path;
  return path;
}

}  // namespace keldran
