#pragma once
// The window messages the host registers before its main routine runs.

#include <cstdint>

#include "platform/windowing.h"

namespace keldran {

constexpr const char* kClientEventMessageName = "KeldranService_Event";
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

// The codes of the client event message (its wParam).
namespace client_event {
constexpr std::uintptr_t kStop = 1;
constexpr std::uintptr_t kPause = 2;
constexpr std::uintptr_t kContinue = 3;
constexpr std::uintptr_t kPing = 4;
constexpr std::uintptr_t kShutdown = 5;
constexpr std::uintptr_t kDebug = 6;
constexpr std::uintptr_t kHide = 7;
constexpr std::uintptr_t kShowStatus = 8;
}  // namespace client_event

}  // namespace keldran
