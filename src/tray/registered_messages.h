#pragma once
// The window messages of the service window, registered before the host's main routine runs.

#include <cstdint>

#include "platform/windowing.h"

namespace keldran {

constexpr const char* kStopMessageName = "KeldranService Stop Message";
constexpr const char* kTrayNotifyMessageName = "KeldranService Tray Notify Message";
constexpr const char* kTaskbarCreatedMessageName = "TaskbarCreated";

struct RegisteredMessages {
  std::uint32_t stop = 0;
  std::uint32_t trayNotify = 0;
  std::uint32_t taskbarCreated = 0;

  static RegisteredMessages Register(IWindowing& windowing) {
    return RegisteredMessages{windowing.RegisterWindowMessage(kStopMessageName),
                              windowing.RegisterWindowMessage(kTrayNotifyMessageName),
                              windowing.RegisterWindowMessage(kTaskbarCreatedMessageName)};
  }
};

}  // namespace keldran
