// log_writer: a second real process for the log writer's Windows tests and benchmark.
//
//   log_writer write <directory> <tag> <count>   appends <count> numbered records with the tag
//                                                through the log writer; exit 0, or 3 when a
//                                                failure was still reported once all were
//                                                written
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/error_text.h"
#include "log/log.h"
#include "platform/win32/win32_platform.h"

namespace keldran {
namespace {

int Usage() {
  std::fprintf(stderr, "usage: log_writer write <directory> <tag> <count>\n");
  return 2;
}

int Write(Platform& platform, const char* directory, const char* tag, long count) {
  Log log(platform);
  log.setLogDir(directory);
  for (long i = 1; i <= count; ++i) log.logDebug(Format("record %s %06ld", tag, i), tag);
  if (!log.Flush(30000)) return 3;
  return log.failureReported(Log::kLogFileFailure) ? 3 : 0;
}

}  // namespace
}  // namespace keldran

int main(int argc, char** argv) {
  if (argc != 5 || std::string(argv[1]) != "write") return keldran::Usage();
  keldran::win32::Win32Platform backend;
  return keldran::Write(backend.platform(), argv[2], argv[3], std::strtol(argv[4], nullptr, 10));
}
