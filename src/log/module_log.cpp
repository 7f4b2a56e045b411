// The module's logging forms: the component's log prefix is the tag.
#include "app/service_module.h"

namespace keldran {
namespace {

const char* TagOf(const std::string& prefix) { return prefix.empty() ? nullptr : prefix.c_str(); }

}  // namespace

void CServiceModule::logDebug(const std::string& text) { log_.logDebug(text, TagOf(LogPre)); }

void CServiceModule::logEvent(std::uint16_t type, std::uint16_t category, std::uint32_t id,
                              const char* const* strings, int count) {
  log_.logEvent(type, category, id, strings, count, TagOf(LogPre));
}

HResult CServiceModule::logError(std::uint16_t category, std::uint32_t id, const char* s1,
                                 const char* s2, const char* s3, const char* s4) {
  const char* strings[] = {s1, s2, s3, s4};
  logEvent(event_type::kError, category, id, strings, 4);
  return kEFail;
}

void CServiceModule::logWarning(std::uint16_t category, std::uint32_t id, const char* s1,
                                const char* s2) {
  const char* strings[] = {s1, s2};
  logEvent(event_type::kWarning, category, id, strings, 2);
}

void CServiceModule::logInfo(std::uint16_t category, std::uint32_t id, const char* s1) {
  const char* strings[] = {s1};
  logEvent(event_type::kInformation, category, id, strings, 1);
}

}  // namespace keldran
