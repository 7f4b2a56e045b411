#pragma once
// The companion files of installer steps: the companion DLL's self-registration and the INI
// files made from their shipped examples. Paths go through the path macros of a short-lived
// client Process (%DIR% is the executable's folder). Failures are only recorded in LastResult:
// installer steps run quiet.

#include <string>

#include "platform/platform.h"
#include "supervision/process.h"

namespace keldran {

class CompanionFiles {
 public:
  explicit CompanionFiles(Platform& platform) : platform_(platform), macros_(platform) {}

  // Each is false after setting LastResult.
  [[nodiscard]] bool RegisterCompanionDll(const std::string& path, bool doRegister);
  [[nodiscard]] bool PrepareIniFromTemplate(const std::string& path);
  [[nodiscard]] bool CopyIfMissing(const std::string& target, const std::string& source);
  // Sets nothing on failure.
  [[nodiscard]] bool FileCanBeOpened(const std::string& path);

  HResult LastResult() const { return lastResult_; }

 private:
  bool CanBeOpened(const std::string& expandedPath);
  bool FailWith(Win32Error error) {
    lastResult_ = ResultFromError(error);
    return false;
  }

  Platform& platform_;
  Process macros_;
  HResult lastResult_ = 0;
};

}  // namespace keldran
