#include "install/companion_files.h"

#include <vector>

namespace keldran {

bool CompanionFiles::RegisterCompanionDll(const std::string& path, bool doRegister) {
  const std::string expanded = macros_.ExpandFileMacros(path);
  ScopedLibrary library(platform_.processes);
  if (Win32Error e = platform_.processes.LoadLibrary(expanded, library.put())) {
    return FailWith(e);
  }
  HResult result = kSOk;
  const Win32Error e = platform_.processes.CallEntryPoint(
      library.get(), doRegister ? "DllRegisterServer" : "DllUnregisterServer", &result);
  if (e != 0) {
    return FailWith(e);
  }
  if (Failed(result)) {
    lastResult_ = result;
    return false;
  }
  return true;
}

bool CompanionFiles::PrepareIniFromTemplate(const std::string& path) {
  const std::string expanded = macros_.ExpandFileMacros(path);
  IFileSystem& files = platform_.files;
  std::string text;
  {
    ScopedFile in(files);
    if (Win32Error e =
            files.CreateFile(expanded, file_access::kGenericRead, file_share::kNone,
                             file_creation::kOpenExisting, file_attribute::kNormal, in.put())) {
      return FailWith(e);
    }
    std::uint64_t size = 0;
    if (Win32Error e = files.GetFileSize(in.get(), &size)) {
      return FailWith(e);
    }
    std::vector<char> buffer(static_cast<std::size_t>(size));
    std::uint32_t read = 0;
    if (Win32Error e = files.ReadFile(in.get(), buffer.data(),
                                      static_cast<std::uint32_t>(buffer.size()), &read)) {
      return FailWith(e);
    }
    text = macros_.ExpandFileMacros(std::string(buffer.data(), read));
  }
  ScopedFile out(files);
  if (Win32Error e =
          files.CreateFile(expanded, file_access::kGenericWrite, file_share::kNone,
                           file_creation::kCreateAlways, file_attribute::kNormal, out.put())) {
    return FailWith(e);
  }
  std::uint32_t written = 0;
  if (Win32Error e = files.WriteFile(out.get(), text.data(),
                                     static_cast<std::uint32_t>(text.size()), &written)) {
    return FailWith(e);
  }
  return true;
}

bool CompanionFiles::CopyIfMissing(const std::string& target, const std::string& source,
                                   bool* copied) {
  const std::string expandedTarget = macros_.ExpandFileMacros(target);
  const std::string expandedSource = macros_.ExpandFileMacros(source);
  if (copied) *copied = false;
  // The target is expanded once only: an install folder whose path holds a percent sign would
  // read differently after a second expansion and look missing.
  if (CanBeOpened(expandedTarget)) return true;
  if (Win32Error e = platform_.files.CopyFile(expandedSource, expandedTarget, true)) {
    return FailWith(e);
  }
  if (copied) *copied = true;
  return true;
}

bool CompanionFiles::FileCanBeOpened(const std::string& path) {
  return CanBeOpened(macros_.ExpandFileMacros(path));
}

bool CompanionFiles::CanBeOpened(const std::string& expandedPath) {
  ScopedFile file(platform_.files);
  return platform_.files.CreateFile(expandedPath, file_access::kGenericRead, file_share::kNone,
                                    file_creation::kOpenExisting, file_attribute::kNormal,
                                    file.put()) == 0;
}

}  // namespace keldran
