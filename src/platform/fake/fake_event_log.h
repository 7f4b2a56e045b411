#pragma once
// The event log, recorded: every report with its source, type, category, id and strings.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/fake/fake_support.h"

namespace keldran::fake {

struct RecordedEvent {
  std::string source;
  std::uint16_t type = 0;
  std::uint16_t category = 0;
  std::uint32_t id = 0;
  std::vector<std::string> strings;
};

class FakeEventLog final : public IEventLog, private FakeArea {
 public:
  FakeEventLog(FaultPlan& faults, FakeSystemTexts& texts) : FakeArea(faults, texts) {}

  Win32Error RegisterSource(const std::string& sourceName, EventSource* source) override;
  Win32Error Report(EventSource source, std::uint16_t type, std::uint16_t category,
                    std::uint32_t eventId, const std::vector<std::string>& strings) override;
  void DeregisterSource(EventSource source) override;

  std::vector<RecordedEvent> Events() const { return Locked(mutex_, events_); }
  std::vector<RecordedEvent> EventsWithId(std::uint32_t id) const;
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<RecordedEvent> events_;
  std::map<std::uintptr_t, std::string> sources_;
};

}  // namespace keldran::fake
