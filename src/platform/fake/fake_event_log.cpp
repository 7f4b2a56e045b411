#include "platform/fake/fake_event_log.h"

namespace keldran::fake {

Win32Error FakeEventLog::RegisterSource(const std::string& sourceName, EventSource* source) {
  std::lock_guard lock(mutex_);
  *source = EventSource{};
  if (auto e = Injected("RegisterEventSource")) return *e;
  *source = EventSource{NewHandle()};
  sources_[source->value] = sourceName;
  return 0;
}

Win32Error FakeEventLog::Report(EventSource source, std::uint16_t type, std::uint16_t category,
                                std::uint32_t eventId, const std::vector<std::string>& strings) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("ReportEvent")) return *e;
  auto it = sources_.find(source.value);
  if (it == sources_.end()) return Fail(win32_error::kInvalidHandle);
  events_.push_back(RecordedEvent{it->second, type, category, eventId, strings});
  return 0;
}

void FakeEventLog::DeregisterSource(EventSource source) {
  std::lock_guard lock(mutex_);
  sources_.erase(source.value);
}

std::vector<RecordedEvent> FakeEventLog::EventsWithId(std::uint32_t id) const {
  std::vector<RecordedEvent> events = Events();
  std::erase_if(events, [id](const RecordedEvent& e) { return e.id != id; });
  return events;
}

}  // namespace keldran::fake
