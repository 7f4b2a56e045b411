// Events: what reaches the event log, the day's file and the hook, and the failures they clear.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/log_fixture.h"

namespace keldran {
namespace {

class EventLogTest : public testing::LogFixture {
 protected:
  EventLogTest() {
    LogToDisk();
    log.setEventHook(&EventLogTest::Record, reinterpret_cast<std::uintptr_t>(this));
  }

  static void Record(std::uintptr_t context, const char* text, std::uint16_t type) {
    auto* self = reinterpret_cast<EventLogTest*>(context);
    self->hooked.push_back(std::to_string(type) + ":" + (text ? text : "<null>"));
    if (self->onHook) self->onHook();
  }

  void Event(std::uint16_t type, std::uint32_t id, std::vector<const char*> strings) {
    log.logEvent(type, 4, id, strings.data(), static_cast<int>(strings.size()), "Grid");
  }

  std::vector<std::string> hooked;  // "type:text" per call
  std::function<void()> onHook;
};

TEST_F(EventLogTest, EventReachesTheLogTheFileAndTheHook) {
  constexpr std::uint16_t kE = event_type::kError, kW = event_type::kWarning;
  const std::string huge(log_limits::kMessageBuffer, 'x');
  const std::string fits(log_limits::kMessageBuffer - 3, 'y');  // with the message's break
  const struct {
    std::uint16_t type;
    const char* level;
    std::uint32_t id;
    std::vector<const char*> strings;
    std::string insertion;  // what the event log gets: joined, without leading breaks
    std::string hook;       // the formatted message
    bool breakFirst = false;
  } cases[] = {
      {kE, "ERROR", 107, {"3 s"}, "3 s", "Client timed out without responding 3 s"},
      {kE, "ERROR", 400, {nullptr, nullptr, nullptr, nullptr}, "", "Service stopped"},
      {kW, "WARNING", 105, {"a", "", "b", nullptr}, "a b", "Client started a b"},
      // The banner's own blank keeps it on the header line.
      {8, "", 105, {"\n\n\n\nHi"}, "Hi", "Client started Hi", true},
      // An id the message table lacks, or an insertion beyond the buffer: it stands for the text.
      {kE, "ERROR", 4242, {"kept text"}, "kept text", "kept text"},
      {kE, "ERROR", 1001, {huge.c_str()}, huge, huge},
      {kE, "ERROR", 1001, {fits.c_str()}, fits, fits},
  };
  log.setLogTrace(true);  // the event's own record is not echoed as a trace event
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hook.substr(0, 60));
    fake.files.RemoveTree(kDayFile);
    hooked.clear();
    Event(c.type, c.id, c.strings);
    const auto event = fake.eventLog.Events().back();
    EXPECT_EQ(std::tie(event.source, event.type, event.category, event.id),
              std::make_tuple(std::string("Grid"), c.type, 4, c.id));
    EXPECT_EQ(event.strings, std::vector<std::string>{c.insertion});
    EXPECT_EQ(hooked, std::vector<std::string>{std::to_string(c.type) + ":" + c.hook});
    EXPECT_EQ(DayFile(), (c.breakFirst ? "\r\n\r\n" : "") +
                             std::string("\r\n\r\n#09:05:03.007#Grid# ==================== ") +
                             c.level + ".Log ====================\r\n\r\n" + c.hook);
  }
  EXPECT_EQ(fake.eventLog.Events().size(), std::size(cases));
}

TEST_F(EventLogTest, HookRunsAfterTheLogLockIsReleased) {
  // Logging from another thread inside the hook would deadlock if the lock were still held.
  onHook = [this] { std::thread([this] { log.logDebug("from the hook", "Tray"); }).join(); };
  Event(event_type::kError, 107, {"x"});
  EXPECT_NE(DayFile().find("#Tray# from the hook"), std::string::npos);
}

TEST_F(EventLogTest, HookThatThrowsIsAnEventLogFailureReportedOnceUntilAnEventGetsThrough) {
  onHook = [] { throw std::runtime_error("hook"); };
  Event(event_type::kError, 107, {"a"});
  Event(event_type::kError, 107, {"b"});
  const std::string text = "Could not write an event to Windows Event Log";
  EXPECT_EQ(FailureTexts(),
            std::vector<std::string>{text + "\n\nThe logEvent() function threw an exception"});
  // An event that the event log refuses is still written and hooked.
  onHook = nullptr;
  hooked.clear();
  Event(event_type::kError, 107, {"ok"});
  EXPECT_FALSE(log.failureReported(Log::kEventLogFailure));
  fake.faults.Fail("ReportEvent", 1502);
  Event(event_type::kError, 107, {"c"});
  EXPECT_TRUE(log.failureReported(Log::kEventLogFailure));
  ASSERT_EQ(FailureTexts().size(), 2u);
  EXPECT_EQ(FailureTexts()[1].rfind(text, 0), 0u);
  EXPECT_NE(FailureTexts()[1].find("1502"), std::string::npos);
  EXPECT_EQ(hooked.size(), 2u);
}

}  // namespace
}  // namespace keldran
