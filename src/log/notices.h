#pragma once
// Notices for the administrator: short texts that the tray icon shows as balloons, or that wait
// for the exit notice when no balloon can show them.

#include <cstdint>

namespace keldran {

namespace notice_kind {
constexpr std::uint32_t kNone = 0;
constexpr std::uint32_t kInformation = 1;
constexpr std::uint32_t kWarning = 2;
constexpr std::uint32_t kError = 3;
}  // namespace notice_kind

class INotices {
 public:
  virtual ~INotices() = default;
  virtual void PostNotice(const char* text, std::uint32_t kind) = 0;
};

}  // namespace keldran
