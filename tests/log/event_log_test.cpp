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

TEST_F(EventLogTest, EventReachesTheLogTheFileAndTheHook) {
  Event(event_type::kError, 107, {"after 30 seconds"});
  const auto events = fake.eventLog.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].source, "Grid");
  EXPECT_EQ(events[0].type, 1);
  EXPECT_EQ(events[0].category, 4);
  EXPECT_EQ(events[0].id, 107u);
  EXPECT_EQ(events[0].strings, std::vector<std::string>{"after 30 seconds"});
  EXPECT_EQ(DayFile(), kHeader +
                           "==================== ERROR.Log ====================\r\n\r\n"
                           "Client timed out without responding after 30 seconds");
  ASSERT_EQ(hookCalls.size(), 1u);
  EXPECT_EQ(hookCalls[0].context, reinterpret_cast<std::uintptr_t>(this));
  EXPECT_EQ(hookCalls[0].text, "Client timed out without responding after 30 seconds");
  EXPECT_EQ(hookCalls[0].type, event_type::kError);
  // Registered and deregistered for this one event.
  EXPECT_EQ(fake.eventLog.RegistrationCount(), 1);
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
}

TEST_F(EventLogTest, InsertionTextsAreJoinedAndTheirLeadingBreaksGoToTheRecord) {
  const std::string banner = "==================== ERROR.Log ====================";
  struct Case {
    std::uint32_t id;
    std::vector<const char*> strings;
    std::string insertion;  // what the event log gets
    std::string hook;       // the formatted message
    std::string file;
  } cases[] = {
      {400,
       {nullptr, nullptr, nullptr, nullptr},
       "",
       "Service stopped",
       kHeader + banner + "\r\n\r\nService stopped"},
      {105,
       {"a", "", "b", nullptr},
       "a b",
       "Client started a b",
       kHeader + banner + "\r\n\r\nClient started a b"},
      {105,
       {"\r\n\r\n Hi"},
       "Hi",
       "Client started Hi",
       kHeader + banner + "\r\n\r\nClient started Hi"},
      // The banner's own blank keeps it on the header line.
      {105,
       {"\n\n\n\nHi"},
       "Hi",
       "Client started Hi",
       "\r\n\r\n" + kHeader + banner + "\r\n\r\nClient started Hi"},
      {105, {"\r\n"}, "\r\n", "Client started", kHeader + banner + "\r\n\r\nClient started"},
      // An id the message table lacks: the insertion stands for the message.
      {4242, {"kept text"}, "kept text", "kept text", kHeader + banner + "\r\n\r\nkept text"},
  };
  log.setLogTrace(true);  // the event's own record is not echoed as a trace event
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    fake.files.RemoveTree(kDayFile);
    hookCalls.clear();
    Event(event_type::kError, c.id, c.strings);
    const auto event = fake.eventLog.Events().back();
    EXPECT_EQ(event.id, c.id);
    EXPECT_EQ(event.strings, std::vector<std::string>{c.insertion});
    ASSERT_EQ(hookCalls.size(), 1u);
    EXPECT_EQ(hookCalls[0].text, c.hook);
    EXPECT_EQ(DayFile(), c.file);
  }
  EXPECT_EQ(fake.eventLog.Events().size(), std::size(cases));
}

TEST_F(EventLogTest, InsertionBeyondTheMessageBufferStandsForTheMessage) {
  const std::string huge(log_limits::kMessageBuffer, 'x');
  Event(event_type::kError, 1001, {huge.c_str()});
  EXPECT_EQ(fake.eventLog.Events().at(0).strings, std::vector<std::string>{huge});
  EXPECT_EQ(DayFile(),
            kHeader + "==================== ERROR.Log ====================\r\n\r\n" + huge);

  // One character less still fits, with the message's own line break.
  fake.files.RemoveTree(kDayFile);
  const std::string fits(log_limits::kMessageBuffer - 3, 'y');
  Event(event_type::kError, 1001, {fits.c_str()});
  EXPECT_EQ(DayFile(),
            kHeader + "==================== ERROR.Log ====================\r\n\r\n" + fits);
}

TEST_F(EventLogTest, EveryTypeHasItsLevelName) {
  const std::pair<std::uint16_t, const char*> levels[] = {{event_type::kError, "ERROR"},
                                                          {event_type::kWarning, "WARNING"},
                                                          {event_type::kInformation, "INFO"},
                                                          {8, ""},
                                                          {0, ""}};
  std::string expected;
  for (const auto& [type, name] : levels) {
    Event(type, 2000, {"t"});
    expected += kHeader + "==================== " + name + ".Log ====================\r\n\r\nt";
  }
  EXPECT_EQ(DayFile(), expected);
}

TEST_F(EventLogTest, HookRunsAfterTheLogLockIsReleased) {
  // Logging from another thread inside the hook would deadlock if the lock were still held.
  onHook = [this] { std::thread([this] { log.logDebug("from the hook", "Tray"); }).join(); };
  Event(event_type::kError, 107, {"x"});
  EXPECT_NE(DayFile().find("#Tray# from the hook"), std::string::npos);
}

TEST_F(EventLogTest, NextEventClearsTheEventLogFailure) {
  log.setEventHook(nullptr, 0);  // events need no hook
  log.logFail(Log::kEventLogFailure, "first");
  log.logFail(Log::kEventLogFailure, "suppressed");
  EXPECT_EQ(FailureEvents().size(), 1u);
  Event(event_type::kInformation, 103, {});
  EXPECT_FALSE(log.failureReported(Log::kEventLogFailure));
  EXPECT_TRUE(hookCalls.empty());
  EXPECT_NE(DayFile().find("Service started"), std::string::npos);
  log.logFail(Log::kEventLogFailure, "second");
  ASSERT_EQ(FailureEvents().size(), 2u);
  EXPECT_EQ(FailureEvents()[1].strings.at(0), "second");
}

TEST_F(EventLogTest, EventThatTheEventLogRefusesIsStillWrittenAndHooked) {
  fake.faults.Fail("ReportEvent", 1502);
  Event(event_type::kError, 107, {"a"});
  fake.faults.Fail("RegisterEventSource", 5);
  Event(event_type::kWarning, 107, {"b"});
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_NE(DayFile().find("responding a"), std::string::npos);
  EXPECT_NE(DayFile().find("responding b"), std::string::npos);
  EXPECT_EQ(hookCalls.size(), 2u);
  EXPECT_FALSE(log.failureReported(Log::kEventLogFailure));
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
}

TEST_F(EventLogTest, HookThatThrowsIsReportedOnceAsAnEventLogFailure) {
  onHook = [] { throw std::runtime_error("hook"); };
  Event(event_type::kError, 107, {"a"});
  Event(event_type::kError, 107, {"b"});
  const auto failures = FailureEvents();
  ASSERT_EQ(failures.size(), 1u);
  const std::string text =
      "Could not write an event to Windows Event Log\n\nThe logEvent() function threw an "
      "exception";
  EXPECT_EQ(failures[0].strings.at(0), text);
  EXPECT_NE(DayFile().find("#Logging Failure# Could not write an event to Windows Event "
                           "Log\r\n\r\nThe logEvent() function threw an exception"),
            std::string::npos);
  EXPECT_EQ(fake.eventLog.OpenSourceCount(), 0u);
}

}  // namespace
}  // namespace keldran
