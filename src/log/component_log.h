#pragma once
// The component's logging forms over the process-wide Log: every record and event carries the
// component's log prefix as its tag, and the short forms for errors, warnings and information.
// Like Log itself, it never fails towards its caller.

#include <cstdint>
#include <string>

#include "log/log.h"
// The event ids and categories of the message table (event::, category::), made from it.
#include "log/message_ids.h"

namespace keldran {

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
