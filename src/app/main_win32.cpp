// Entry point of KeldranGridAgent.exe and the composition root: the process-wide objects are
// built here, in the order the rest of the program relies on, and handed to each other.
#include "platform/win32/windows_api.h"

#include "app/service_module.h"
#include "control/service_object_win32.h"
#include "log/log.h"
#include "platform/win32/win32_platform.h"
#include "supervision/process.h"
#include "tray/service_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  using namespace keldran;
  try {
    win32::Win32Platform win32(instance);
    Platform& platform = win32.platform();
    Log log(platform);  // the log lock and the global log mutex come first
    const RegisteredMessages messages = RegisteredMessages::Register(platform.windowing);
    CritSect stateLock(platform.sync);
    Process client(platform);
    CServiceWin window(platform, messages);
    CServiceModule module(platform, log, client, window, stateLock, messages);
    module.SetServiceObjectFactory(&MakeServiceObject);

    const HResult result = module.Startup(commandLine ? commandLine : "");
    module.ShowExitNotice();
    return static_cast<int>(result);
  } catch (...) {
    // Nothing may escape the entry point; a failure this early has no one to report to.
    return static_cast<int>(kEFail);
  }
}
