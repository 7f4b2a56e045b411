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

TEST_F(EventLogTest, FourNullStringsGiveOneEmptyInsertion) {
  Event(event_type::kInformation, 400, {nullptr, nullptr, nullptr, nullptr});
  EXPECT_EQ(fake.eventLog.Events().at(0).strings, std::vector<std::string>{""});
  EXPECT_EQ(DayFile(),
            kHeader + "==================== INFO.Log ====================\r\n\r\nService stopped");
  EXPECT_EQ(hookCalls.at(0).text, "Service stopped");
}

TEST_F(EventLogTest, NonEmptyStringsAreJoinedWithOneBlank) {
  Event(event_type::kWarning, 105, {"a", "", "b", nullptr});
  EXPECT_EQ(fake.eventLog.Events().at(0).strings, std::vector<std::string>{"a b"});
  EXPECT_EQ(hookCalls.at(0).text, "Client started a b");
}

TEST_F(EventLogTest, LeadingBreaksOfTheInsertionGoToTheRecordNotTheEvent) {
  Event(event_type::kError, 105, {"\r\n\r\n Hi"});
  EXPECT_EQ(fake.eventLog.Events().at(0).strings, std::vector<std::string>{"Hi"});
  EXPECT_EQ(
      DayFile(),
      kHeader + "==================== ERROR.Log ====================\r\n\r\nClient started Hi");

  fake.files.RemoveTree(kDayFile);
  Event(event_type::kError, 105, {"\n\n\n\nHi"});
  EXPECT_EQ(fake.eventLog.Events().at(1).strings, std::vector<std::string>{"Hi"});
  // The banner's own blank keeps it on the header line.
  EXPECT_EQ(DayFile(), "\r\n\r\n" + kHeader +
                           "==================== ERROR.Log ====================\r\n\r\n"
                           "Client started Hi");
}

TEST_F(EventLogTest, InsertionOfBreaksOnlyStaysInTheEvent) {
  Event(event_type::kError, 105, {"\r\n"});
  EXPECT_EQ(fake.eventLog.Events().at(0).strings, std::vector<std::string>{"\r\n"});
  EXPECT_EQ(hookCalls.at(0).text, "Client started");
}

TEST_F(EventLogTest, IdTheTableLacksLeavesTheBannerOnly) {
  Event(event_type::kWarning, 4242, {"lost text"});
  EXPECT_EQ(fake.eventLog.Events().at(0).id, 4242u);
  EXPECT_EQ(DayFile(), kHeader + "==================== WARNING.Log ====================");
  EXPECT_EQ(hookCalls.at(0).text, "");
}

TEST_F(EventLogTest, InsertionBeyondTheMessageBufferLeavesTheBannerOnly) {
  const std::string huge(log_limits::kMessageBuffer, 'x');
  Event(event_type::kError, 1001, {huge.c_str()});
  EXPECT_EQ(fake.eventLog.Events().at(0).strings, std::vector<std::string>{huge});
  EXPECT_EQ(DayFile(), kHeader + "==================== ERROR.Log ====================");

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

TEST_F(EventLogTest, TraceDoesNotEchoEvents) {
  log.setLogTrace(true);
  Event(event_type::kInformation, 103, {"now"});
  const auto events = fake.eventLog.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, 103u);
}

TEST_F(EventLogTest, HookRunsAfterTheLogLockIsReleased) {
  // Logging from another thread inside the hook would deadlock if the lock were still held.
  onHook = [this] { std::thread([this] { log.logDebug("from the hook", "Tray"); }).join(); };
  Event(event_type::kError, 107, {"x"});
  EXPECT_NE(DayFile().find("#Tray# from the hook"), std::string::npos);
}

TEST_F(EventLogTest, NextEventClearsTheEventLogFailure) {
  log.logFail(Log::kEventLogFailure, "first");
  log.logFail(Log::kEventLogFailure, "suppressed");
  EXPECT_EQ(FailureEvents().size(), 1u);
  Event(event_type::kInformation, 103, {});
  EXPECT_FALSE(log.failureReported(Log::kEventLogFailure));
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

TEST_F(EventLogTest, WithoutAHookEventsAreStillWritten) {
  log.setEventHook(nullptr, 0);
  Event(event_type::kError, 107, {"x"});
  EXPECT_TRUE(hookCalls.empty());
  EXPECT_NE(DayFile().find("responding x"), std::string::npos);
}

}  // namespace
}  // namespace keldran
