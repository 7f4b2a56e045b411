// IEventLog over RegisterEventSourceA and ReportEventA.
#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

class EventLog final : public IEventLog {
 public:
  Win32Error RegisterSource(const std::string& sourceName, EventSource* source) override {
    HANDLE h = ::RegisterEventSourceA(nullptr, sourceName.c_str());
    if (!h) return ::GetLastError();
    *source = ToSeam<EventSource>(h);
    return 0;
  }

  Win32Error Report(EventSource source, std::uint16_t type, std::uint16_t category,
                    std::uint32_t eventId, const std::vector<std::string>& strings) override {
    std::vector<const char*> inserts;
    inserts.reserve(strings.size());
    for (const std::string& s : strings) inserts.push_back(s.c_str());
    if (!::ReportEventA(FromSeam<HANDLE>(source), type, category, eventId, nullptr,
                        static_cast<WORD>(inserts.size()), 0, inserts.data(), nullptr)) {
      return ::GetLastError();
    }
    return 0;
  }

  void DeregisterSource(EventSource source) override {
    UniqueEventSource(FromSeam<HANDLE>(source)).reset();
  }
};

}  // namespace

std::unique_ptr<IEventLog> MakeEventLog() { return std::make_unique<EventLog>(); }

}  // namespace keldran::win32
