#pragma once
// The real backend of the platform seam: one object per area, each a thin layer over the Win32
// calls its interface names.

#include "platform/win32/windows_api.h"

#include <memory>

#include "platform/platform.h"

namespace keldran::win32 {

class Win32Platform {
 public:
  // messageModule: the module whose message table ModuleMessage reads; null means the running
  // program. The module must outlive this object.
  explicit Win32Platform(HMODULE messageModule = nullptr);
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  Platform& platform() { return platform_; }

 private:
  std::unique_ptr<IRegistry> registry_;
  std::unique_ptr<IServiceManager> services_;
  std::unique_ptr<IEventLog> eventLog_;
  std::unique_ptr<IProcesses> processes_;
  std::unique_ptr<IFileSystem> files_;
  std::unique_ptr<IClock> clock_;
  std::unique_ptr<IWindowing> windowing_;
  std::unique_ptr<IDialogs> dialogs_;
  std::unique_ptr<ICom> com_;
  std::unique_ptr<IShell> shell_;
  std::unique_ptr<ISync> sync_;
  std::unique_ptr<ISystemTexts> texts_;
  Platform platform_;
};

}  // namespace keldran::win32
