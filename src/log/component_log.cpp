#include "log/component_log.h"

namespace keldran {

void ComponentLog::logDebug(const std::string& text) { log_.logDebug(text, tag()); }

void ComponentLog::logEvent(std::uint16_t type, std::uint16_t category, std::uint32_t id,
                            const char* const* strings, int count) {
  log_.logEvent(type, category, id, strings, count, tag());
}

HResult ComponentLog::logError(std::uint16_t category, std::uint32_t id, const char* s1,
                               const char* s2, const char* s3, const char* s4) {
  const char* strings[] = {s1, s2, s3, s4};
  logEvent(event_type::kError, category, id, strings, 4);
  return kEFail;
}

void ComponentLog::logWarning(std::uint16_t category, std::uint32_t id, const char* s1,
                              const char* s2) {
  const char* strings[] = {s1, s2};
  logEvent(event_type::kWarning, category, id, strings, 2);
}

void ComponentLog::logInfo(std::uint16_t category, std::uint32_t id, const char* s1) {
  const char* strings[] = {s1};
  logEvent(event_type::kInformation, category, id, strings, 1);
}

}  // namespace keldran
