#include "platform/win32/win32_platform.h"

#include "platform/win32/backend.h"

namespace keldran::win32 {

Win32Platform::Win32Platform(HMODULE messageModule)
    : registry_(MakeRegistry()),
      services_(MakeServiceManager()),
      eventLog_(MakeEventLog()),
      processes_(MakeProcesses()),
      files_(MakeFileSystem()),
      clock_(MakeClock()),
      windowing_(MakeWindowing()),
      dialogs_(MakeDialogs()),
      com_(MakeCom()),
      shell_(MakeShell()),
      sync_(MakeSync()),
      texts_(MakeSystemTexts(messageModule ? messageModule : ::GetModuleHandleA(nullptr))),
      platform_{*registry_,  *services_, *eventLog_, *processes_, *files_, *clock_,
                *windowing_, *dialogs_,  *com_,      *shell_,     *sync_,  *texts_} {}

Win32Platform::~Win32Platform() = default;

}  // namespace keldran::win32
