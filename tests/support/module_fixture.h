#pragma once
// The module with everything it is built from, on the fake platform: the log, the client
// process, the state lock, the registered messages and the service window with its tray icon.

#include <gtest/gtest.h>

#include "app/registered_messages.h"
#include "app/service_module.h"
#include "log/log.h"
#include "platform/fake/fake_platform.h"
#include "service/crit_sect.h"
#include "supervision/process.h"
#include "tray/service_win.h"

namespace keldran::testing {

class ModuleFixture : public ::testing::Test {
 protected:
  static constexpr WindowHandle kServiceWindow = 0x5150;

  // Puts the tray icon into the notification area, as the service window's creation does.
  void AddTrayIcon() { window.tray().AddOrModify(kServiceWindow, IconHandle{}, "tip"); }

  fake::FakePlatform fake;
  Log log{fake.platform()};
  Process client{fake.platform()};
  CritSect stateLock{fake.sync};
  RegisteredMessages messages = RegisteredMessages::Register(fake.windowing);
  CServiceWin window{fake.platform(), messages};
  CServiceModule module{fake.platform(), log, client, window, stateLock, messages};
};

}  // namespace keldran::testing
