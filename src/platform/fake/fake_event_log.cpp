#include "platform/fake/fake_event_log.h"

namespace keldran::fake {

FakeEventLog::FakeEventLog(FaultPlan& faults, FakeSystemTexts& texts) : FakeArea(faults, texts) {}

Win32Error FakeEventLog::RegisterSource(const std::string& sourceName, EventSource* source) {
  std::lock_guard lock(mutex_);
  *source = EventSource{};
  if (auto e = Injected("RegisterEventSource")) return *e;
  *source = EventSource{nextSource_};
  sources_[nextSource_] = sourceName;
  nextSource_ += 4;
  ++registrations_;
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

std::vector<RecordedEvent> FakeEventLog::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<RecordedEvent> FakeEventLog::EventsWithId(std::uint32_t id) const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedEvent> out;
  for (const auto& e : events_) {
    if (e.id == id) out.push_back(e);
  }
  return out;
}

void FakeEventLog::Clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

std::size_t FakeEventLog::OpenSourceCount() const {
  std::lock_guard lock(mutex_);
  return sources_.size();
}

int FakeEventLog::RegistrationCount() const {
  std::lock_guard lock(mutex_);
  return registrations_;
}

}  // namespace keldran::fake
