// The companion files of installer steps: the companion DLL's self-registration and the INI
// files made from their shipped examples. Failures are only recorded in LastResult: installer
// steps run quiet.
#include <vector>

#include "supervision/process.h"

namespace keldran {

bool Process::RegisterCompanionDll(const std::string& path, bool doRegister) {
  const std::string expanded = ExpandFileMacros(path);
  ScopedLibrary library(platform_.processes);
  if (Win32Error e = platform_.processes.LoadLibrary(expanded, library.put())) {
    SetLastResultFromError(e);
    return false;
  }
  HResult result = kSOk;
  const Win32Error e = platform_.processes.CallEntryPoint(
      library.get(), doRegister ? "DllRegisterServer" : "DllUnregisterServer", &result);
  if (e != 0) {
    SetLastResultFromError(e);
    return false;
  }
  if (Failed(result)) {
    lastResult_ = result;
    return false;
  }
  return true;
}

bool Process::PrepareIniFromTemplate(const std::string& path) {
  const std::string expanded = ExpandFileMacros(path);
  IFileSystem& files = platform_.files;
  std::string text;
  {
    ScopedFile in(files);
    if (Win32Error e =
            files.CreateFile(expanded, file_access::kGenericRead, file_share::kNone,
                             file_creation::kOpenExisting, file_attribute::kNormal, in.put())) {
      SetLastResultFromError(e);
      return false;
    }
    std::uint64_t size = 0;
    if (Win32Error e = files.GetFileSize(in.get(), &size)) {
      SetLastResultFromError(e);
      return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(size));
    std::uint32_t read = 0;
    if (Win32Error e = files.ReadFile(in.get(), buffer.data(),
                                      static_cast<std::uint32_t>(buffer.size()), &read)) {
      SetLastResultFromError(e);
      return false;
    }
    text = ExpandFileMacros(std::string(buffer.data(), read));
  }
  ScopedFile out(files);
  if (Win32Error e =
          files.CreateFile(expanded, file_access::kGenericWrite, file_share::kNone,
                           file_creation::kCreateAlways, file_attribute::kNormal, out.put())) {
    SetLastResultFromError(e);
    return false;
  }
  std::uint32_t written = 0;
  if (Win32Error e = files.WriteFile(out.get(), text.data(),
                                     static_cast<std::uint32_t>(text.size()), &written)) {
    SetLastResultFromError(e);
    return false;
  }
  return true;
}

bool Process::CopyIfMissing(const std::string& target, const std::string& source) {
  const std::string expandedTarget = ExpandFileMacros(target);
  const std::string expandedSource = ExpandFileMacros(source);
  if (FileCanBeOpened(expandedTarget)) return true;
  if (Win32Error e = platform_.files.CopyFile(expandedSource, expandedTarget, true)) {
    SetLastResultFromError(e);
    return false;
  }
  return true;
}

bool Process::FileCanBeOpened(const std::string& path) {
  ScopedFile file(platform_.files);
  return platform_.files.CreateFile(ExpandFileMacros(path), file_access::kGenericRead,
                                    file_share::kNone, file_creation::kOpenExisting,
                                    file_attribute::kNormal, file.put()) == 0;
}

}  // namespace keldran
