// Entry point of KeldranGridAgent.exe: the Win32 platform and the host built on it.
#include "platform/win32/windows_api.h"

#include "app/host.h"
#include "control/service_object_win32.h"
#include "platform/win32/win32_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  using namespace keldran;
  try {
    win32::Win32Platform win32(instance);
    Host host(win32.platform(),
              [](Host& h) { return MakeServiceObject(h.calls, h.service, h.config.ExePath); });
    const HResult result = host.Startup(commandLine ? commandLine : "");
    host.ShowExitNotice();
    return static_cast<int>(result);
  } catch (...) {
    // Nothing may escape the entry point; a failure this early has no one to report to.
    return static_cast<int>(kEFail);
  }
}
