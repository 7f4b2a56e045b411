// Events: what reaches the event log, the record they leave in the day's file, the hook that
// follows them, and the event-log failure state they clear.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/log_fixture.h"

namespace keldran {
namespace {

const std::string kHeader = "\r\n\r\n#09:05:03.007#Grid# ";

struct HookCall {
  std::uintptr_t context;
  std::string text;
  std::uint16_t type;
};

class EventLogTest : public testing::LogFixture {
 protected:
  EventLogTest() {
    LogToDisk();
    log.setEventHook(&EventLogTest::Record, reinterpret_cast<std::uintptr_t>(this));
  }

  static void Record(std::uintptr_t context, const char* text, std::uint16_t type) {
    auto* self = reinterpret_cast<EventLogTest*>(context);
    self->hookCalls.push_back(HookCall{context, text ? text : "<null>", type});
    if (self->onHook) self->onHook();
  }

  void Event(std::uint16_t type, std::uint32_t id, std::vector<const char*> strings) {
    log.logEvent(type, 4, id, strings.data(), static_cast<int>(strings.size()), "Grid");
  }

  std::vector<HookCall> hookCalls;
  std::function<void()> onHook;
};

// Each event reaches the event log (joined insertion texts, without their leading breaks), the
// day's file (its level's banner, then the formatted message) and the hook.
TEST_F(EventLogTest, EventReachesTheLogTheFileAndTheHook) {
  const std::string huge(log_limits::kMessageBuffer, 'x');
  const std::string fits(log_limits::kMessageBuffer - 3, 'y');  // with the message's line break
  struct Case {
    std::uint16_t type;
    const char* level;
    std::uint32_t id;
    std::vector<const char*> strings;
    std::string insertion;  // what the event log gets
    std::string hook;       // the formatted message
    std::string before;     // what the file holds before the record's header
  } cases[] = {
      {event_type::kError,
       "ERROR",
       107,
       {"after 30 seconds"},
       "after 30 seconds",
       "Client timed out without responding after 30 seconds",
       ""},
      {event_type::kError,
       "ERROR",
       400,
       {nullptr, nullptr, nullptr, nullptr},
       "",
       "Service stopped",
       ""},
      {event_type::kWarning,
       "WARNING",
       105,
       {"a", "", "b", nullptr},
       "a b",
       "Client started a b",
       ""},
      {event_type::kInformation, "INFO", 105, {"\r\n\r\n Hi"}, "Hi", "Client started Hi", ""},
      // The banner's own blank keeps it on the header line.
      {8, "", 105, {"\n\n\n\nHi"}, "Hi", "Client started Hi", "\r\n\r\n"},
      {0, "", 105, {"\r\n"}, "\r\n", "Client started", ""},
      // An id the message table lacks, or an insertion beyond the message buffer: the insertion
      // stands for the message.
      {event_type::kError, "ERROR", 4242, {"kept text"}, "kept text", "kept text", ""},
      {event_type::kError, "ERROR", 1001, {huge.c_str()}, huge, huge, ""},
      {event_type::kError, "ERROR", 1001, {fits.c_str()}, fits, fits, ""},
  };
  log.setLogTrace(true);  // the event's own record is not echoed as a trace event
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hook.substr(0, 60));
    fake.files.RemoveTree(kDayFile);
    hookCalls.clear();
    Event(c.type, c.id, c.strings);
    const auto event = fake.eventLog.Events().back();
    EXPECT_EQ(event.source, "Grid");
    EXPECT_EQ(event.type, c.type);
    EXPECT_EQ(event.category, 4);
    EXPECT_EQ(event.id, c.id);
    EXPECT_EQ(event.strings, std::vector<std::string>{c.insertion});
    ASSERT_EQ(hookCalls.size(), 1u);
    EXPECT_EQ(hookCalls[0].context, reinterpret_cast<std::uintptr_t>(this));
    EXPECT_EQ(hookCalls[0].text, c.hook);
    EXPECT_EQ(hookCalls[0].type, c.type);
    EXPECT_EQ(DayFile(), c.before + kHeader + "==================== " + c.level +
                             ".Log ====================\r\n\r\n" + c.hook);
  }
  EXPECT_EQ(fake.eventLog.Events().size(), std::size(cases));
  // Registered and deregistered for each event.
  EXPECT_EQ(fake.eventLog.RegistrationCount(), static_cast<int>(std::size(cases)));
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
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
  const std::string text =
      "Could not write an event to Windows Event Log\n\nThe logEvent() function threw an "
      "exception";
  EXPECT_EQ(FailureTexts(), std::vector<std::string>{text});
  EXPECT_NE(DayFile().find("#Logging Failure# Could not write an event to Windows Event "
                           "Log\r\n\r\nThe logEvent() function threw an exception"),
            std::string::npos);
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
  // An event that the event log refuses is still written and hooked, and its failure is said
  // once until an event goes through again.
  onHook = nullptr;
  hookCalls.clear();
  Event(event_type::kError, 107, {"ok"});
  EXPECT_FALSE(log.failureReported(Log::kEventLogFailure));
  fake.faults.Fail("ReportEvent", 1502);
  Event(event_type::kError, 107, {"c"});
  fake.faults.Fail("RegisterEventSource", 5);
  Event(event_type::kWarning, 107, {"d"});
  EXPECT_TRUE(log.failureReported(Log::kEventLogFailure));
  ASSERT_EQ(FailureTexts().size(), 2u);
  EXPECT_EQ(FailureTexts()[1].rfind("Could not write an event to Windows Event Log", 0), 0u);
  EXPECT_NE(FailureTexts()[1].find("1502"), std::string::npos);
  EXPECT_NE(DayFile().find("responding c"), std::string::npos);
  EXPECT_NE(DayFile().find("responding d"), std::string::npos);
  EXPECT_EQ(hookCalls.size(), 3u);
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
  Event(event_type::kError, 107, {"e"});
  EXPECT_FALSE(log.failureReported(Log::kEventLogFailure));
  log.logFail(Log::kEventLogFailure, "second");
  EXPECT_EQ(FailureTexts().back(), "second");
}

}  // namespace
}  // namespace keldran
