// Placeholder bodies until the child-process wrapper lands.
#include "supervision/process.h"

namespace keldran {

Process::Process(Platform& platform) : platform_(platform) {}
Process::~Process() = default;
bool Process::Start(const std::string&, std::uint16_t, Win32Error* error,
                    const std::optional<std::string>&) {
  if (error) *error = win32_error::kFileNotFound;
  lastResult_ = kEFail;
  return false;
}
bool Process::HasEnded() { return true; }
bool Process::WaitForEnd(std::uint32_t) { return true; }
void Process::Terminate(std::uint32_t) {}
void Process::SetWorkingDir(const std::string& directory) { workingDir_ = directory; }
std::string Process::BaseDir() { return workingDir_; }
std::string Process::RootDir() { return workingDir_; }
std::string Process::ExpandFileMacros(const std::string& text) { return text; }
void Process::SetLastResultFromError(Win32Error error) {
  lastResult_ = HResultFromWin32(error);
  if (!Failed(lastResult_)) lastResult_ = kEFail;
}
std::string Process::ModuleDirectory() { return std::string(); }
void Process::CloseHandles() {}

}  // namespace keldran
