#pragma once
// The platform seam: one narrow interface per area, bundled so that the composition root can
// hand a whole backend (Win32 or the in-memory fake) to the logic by constructor.

#include "platform/clock.h"
#include "platform/com.h"
#include "platform/dialogs.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/sync.h"
#include "platform/system_texts.h"
#include "platform/windowing.h"

namespace keldran {

struct Platform {
  IRegistry& registry;
  IServiceManager& services;
  IEventLog& eventLog;
  IProcesses& processes;
  IFileSystem& files;
  IClock& clock;
  IWindowing& windowing;
  IDialogs& dialogs;
  ICom& com;
  IShell& shell;
  ISync& sync;
  ISystemTexts& texts;
};

}  // namespace keldran
