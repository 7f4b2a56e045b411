#pragma once
// The component's logging forms over the process-wide Log: every record and event carries the
// component's log prefix as its tag, and the short forms for errors, warnings and information.
// Like Log itself, it never fails towards its caller.

#include <cstdint>
#include <string>

#include "log/log.h"

namespace keldran {

// Event categories of the message table.
namespace category {
constexpr std::uint16_t kInstall = 1;
constexpr std::uint16_t kConfiguration = 2;
constexpr std::uint16_t kStartup = 3;
constexpr std::uint16_t kRun = 4;
constexpr std::uint16_t kShutdown = 5;
constexpr std::uint16_t kDebug = 6;
constexpr std::uint16_t kParameter = 9;
constexpr std::uint16_t kLoggingFailure = 13;
}  // namespace category

class ComponentLog {
 public:
  // The tag is read at every record, so that it follows the configuration load (an empty
  // prefix means no tag).
  ComponentLog(Log& log, const std::string& tag) : log_(log), tag_(tag) {}
  ComponentLog(const ComponentLog&) = delete;
  ComponentLog& operator=(const ComponentLog&) = delete;

  void logDebug(const std::string& text);
  void logEvent(std::uint16_t type, std::uint16_t category, std::uint32_t id,
                const char* const* strings, int count);
  // Returns E_FAIL, so that a failing operation can report and return in one statement.
  HResult logError(std::uint16_t category, std::uint32_t id, const char* s1 = nullptr,
                   const char* s2 = nullptr, const char* s3 = nullptr, const char* s4 = nullptr);
  void logWarning(std::uint16_t category, std::uint32_t id, const char* s1 = nullptr,
                  const char* s2 = nullptr);
  void logInfo(std::uint16_t category, std::uint32_t id, const char* s1 = nullptr);

  Log& log() { return log_; }

 private:
  const char* tag() const { return tag_.empty() ? nullptr : tag_.c_str(); }

  Log& log_;
  const std::string& tag_;
};

}  // namespace keldran
