#pragma once
// The companion files of installer steps: the companion DLL's self-registration and the INI
// files made from their shipped examples. Paths go through the path macros of a short-lived
// client Process (%DIR% is the executable's folder unless the step names another). Failures are
// only recorded in LastResult: installer steps run quiet.

#include <string>

#include "platform/platform.h"
#include "supervision/process.h"

namespace keldran {

class CompanionFiles {
 public:
  explicit CompanionFiles(Platform& platform) : platform_(platform), macros_(platform) {}

  // %DIR% from here on: the installation folder, for a copy of the host that runs elsewhere.
  void SetInstallFolder(const std::string& folder) { macros_.SetBaseDir(folder); }

  // Each is false after setting LastResult.
  [[nodiscard]] bool RegisterCompanionDll(const std::string& path, bool doRegister);
  [[nodiscard]] bool PrepareIniFromTemplate(const std::string& path);
  // *copied, when given: the target was missing and is the source's copy now.
  [[nodiscard]] bool CopyIfMissing(const std::string& target, const std::string& source,
                                   bool* copied = nullptr);
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
