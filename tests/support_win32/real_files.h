#pragma once
// A host on the fake platform with the real file system (INI files and path functions are
// Windows's own); the executable seems to lie in a scratch directory of its own.

#include <memory>
#include <string>

#include "common/files.h"
#include "platform/win32/backend.h"
#include "support/host_fixture.h"

namespace keldran::testing {

inline IFileSystem& RealFileSystem() {
  static const std::unique_ptr<IFileSystem> files = win32::MakeFileSystem();
  return *files;
}

struct RealFilesHost : FakeHost {
  RealFilesHost() : FakeHost(&RealFileSystem()) {
    fake.processes.SetModuleFileName(dir.File("KeldranGridAgent.exe"));
  }
  // The executable's directory, with a trailing backslash.
  std::string ExeDir() const { return dir.path() + "\\"; }
  std::string IniPath() const { return dir.File("KeldranGridAgent.INI"); }
  // Writes a file of the executable's directory (name may hold subdirectories).
  void Write(const std::string& name, const std::string& text) {
    if (!dir.Write(name, text)) ADD_FAILURE() << "cannot write " << dir.File(name);
  }
  void WriteIni(const std::string& text) { Write("KeldranGridAgent.INI", text); }

  tools::ScratchDir dir;
};

}  // namespace keldran::testing
