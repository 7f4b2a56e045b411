#pragma once
// The Windows event log (RegisterEventSource, ReportEvent, DeregisterEventSource).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scoped.h"
#include "platform/types.h"

namespace keldran {

struct EventSourceTag;
using EventSource = Handle<EventSourceTag>;

namespace event_type {
constexpr std::uint16_t kError = 1;
constexpr std::uint16_t kWarning = 2;
constexpr std::uint16_t kInformation = 4;
}  // namespace event_type

class IEventLog {
 public:
  virtual ~IEventLog() = default;
  // On the local machine.
  [[nodiscard]] virtual Win32Error RegisterSource(const std::string& sourceName,
                                                  EventSource* source) = 0;
  // No user SID and no raw data; the strings are the insertion strings in order.
  [[nodiscard]] virtual Win32Error Report(EventSource source, std::uint16_t type,
                                          std::uint16_t category, std::uint32_t eventId,
                                          const std::vector<std::string>& strings) = 0;
  virtual void DeregisterSource(EventSource source) = 0;
};

using ScopedEventSource = Scoped<IEventLog, EventSource, &IEventLog::DeregisterSource>;

}  // namespace keldran
