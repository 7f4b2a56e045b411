#pragma once
// The client event message: how the host speaks to its client's window. Shared with client-side
// code (the companion DLL's script helper), so it depends on nothing.

#include <cstdint>

namespace keldran {

constexpr const char* kClientEventMessageName = "KeldranService_Event";

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
