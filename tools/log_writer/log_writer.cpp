// log_writer: a second real process for the log writer's Windows tests and benchmark.
//
//   log_writer write <directory> <tag> <count>   appends <count> numbered records with the tag
//                                                through the log writer; exit 0, or 3 when a
//                                                failure was still reported once all were
//                                                written
//   log_writer hold <file> <seconds>             opens the file for writing, sharing reading
//                                                only, and keeps it open for <seconds>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/error_text.h"
#include "log/log.h"
#include "platform/win32/win32_platform.h"

namespace keldran {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: log_writer write <directory> <tag> <count>\n"
               "       log_writer hold <file> <seconds>\n");
  return 2;
}

int Write(Platform& platform, const char* directory, const char* tag, long count) {
  Log log(platform);
  log.setLogDir(directory);
  for (long i = 1; i <= count; ++i) log.logDebug(Format("record %s %06ld", tag, i), tag);
  if (!log.Flush(30000)) return 3;
  return log.failureReported(Log::kLogFileFailure) ? 3 : 0;
}

int Hold(Platform& platform, const char* path, long seconds) {
  FileHandle handle;
  const Win32Error error =
      platform.files.CreateFile(path, file_access::kGenericWrite, file_share::kRead,
                                file_creation::kOpenAlways, file_attribute::kNormal, &handle);
  if (error != 0) {
    std::fprintf(stderr, "log_writer: cannot open %s: %u\n", path, error);
    return 1;
  }
  ScopedFile file(platform.files, handle);
  platform.clock.Sleep(static_cast<std::uint32_t>(seconds) * 1000);
  return 0;
}

}  // namespace
}  // namespace keldran

int main(int argc, char** argv) {
  if (argc != 5 && argc != 4) return keldran::Usage();
  keldran::win32::Win32Platform backend;
  const std::string mode = argv[1];
  if (mode == "write" && argc == 5) {
    return keldran::Write(backend.platform(), argv[2], argv[3], std::strtol(argv[4], nullptr, 10));
  }
  if (mode == "hold" && argc == 4) {
    return keldran::Hold(backend.platform(), argv[2], std::strtol(argv[3], nullptr, 10));
  }
  return keldran::Usage();
}
