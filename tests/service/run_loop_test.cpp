// The run loop: what it sets up, the order in which it takes everything down, and the ways a
// run ends.
#include "platform/boundary.h"
#include "support/host_fixture.h"

namespace keldran {
namespace {

class RunLoopTest : public testing::RunFixture {};

TEST_F(RunLoopTest, AnApplicationRunServesUntilStopThenKillsTheClientBeforeReleasingAndRevoking) {
  // The published object notes, as it is released, whether the client is dead and the object
  // still in the table.
  struct Witness {
    fake::FakePlatform* fake;
    std::vector<std::string> order;
  } witness{&fake, {}};
  makeObject = [&] {
    return ObjectRef(&witness, [](void* p) {
      auto* w = static_cast<Witness*>(p);
      w->order.push_back(std::string("released") +
                         (w->fake->processes.LastChild()->terminated ? " after kill" : "") +
                         (w->fake->com.IsRegistered(kServiceId) ? " before revoke" : ""));
    });
  };
  fake.clock.After(5000, [&] {
    const bool serving = fake.com.IsRegistered(kServiceId) && fake.windowing.Windows().size() == 1;
    witness.order.push_back(serving ? "serving" : "not serving");
    ASSERT_EQ(calls.Stop(), kSOk);
  });
  RunHost();
  EXPECT_EQ(witness.order,
            (std::vector<std::string>{"serving", "released after kill before revoke"}));
  // Only callers of the host's own account find it (no ROTFLAGS_ALLOWANYCLIENT).
  EXPECT_EQ(fake.com.RegistrationAttempts(),
            std::vector<std::string>{std::string(kServiceId) + " flags=1"});
  EXPECT_EQ(Count(104), 1u);
  EXPECT_EQ(Count(105), 1u);
  EXPECT_EQ(Count(111), 1u);
  EXPECT_FALSE(fake.com.IsRegistered(kServiceId));
  EXPECT_TRUE(fake.windowing.Windows().empty());
  EXPECT_EQ(fake.processes.LastChild()->exitCode, 1460u);
  EXPECT_EQ(fake.processes.LastChild()->currentDirectory, "C:\\Grid");
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(RunLoopTest, AFailedFirstStartSkipsTheLoopButStillShutsDown) {
  fake.faults.Fail("CreateProcess", win32_error::kFileNotFound);
  RunHost();
  EXPECT_EQ(Count(106), 1u);
  EXPECT_EQ(Count(105), 0u);
  EXPECT_TRUE(host.service.runFailed());
  EXPECT_FALSE(fake.com.IsRegistered(kServiceId));
  EXPECT_TRUE(fake.windowing.Windows().empty());
  auto boxes = fake.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.rfind("Client NOT started : Cannot run command:", 0), 0u);
}

TEST_F(RunLoopTest, AFailureCaughtInAnOsCallbackBecomesAnErrorRecord) {
  ReportBoundaryFailure("a window procedure");
  const auto events = fake.eventLog.EventsWithId(1001);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, event_type::kError);
  EXPECT_NE(events[0].strings[0].find("failure in a window procedure"), std::string::npos);
}

// Each failure in a host of its own: a first case's failed run must not hide a second's.
struct SetUpFailure {
  const char* fault;  // "": the object to publish cannot be made
  const char* text;
  const char* why;  // nullptr: no error text
};
class RunSetUpTest : public testing::RunFixture,
                     public ::testing::WithParamInterface<SetUpFailure> {};

TEST_P(RunSetUpTest, AFailureToSetUpComOrTheWatchdogEndsTheRunReportedBeforeTheClient) {
  if (*GetParam().fault)
    fake.faults.Fail(GetParam().fault, 0x80070005u);
  else
    makeObject = [] { return ObjectRef(); };
  RunHost();
  const std::vector<std::string> events = Insertions(106);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].rfind(GetParam().text, 0), 0u);
  const std::size_t why = events[0].find(GetParam().why ? GetParam().why : "(0x");
  EXPECT_EQ(why != std::string::npos, GetParam().why != nullptr) << events[0];
  EXPECT_FALSE(fake.com.IsRegistered(kServiceId));
  EXPECT_EQ(ClientStarts(), 0u);
  EXPECT_TRUE(fake.windowing.Windows().empty());
  EXPECT_TRUE(host.service.runFailed());
}

constexpr const char* kDenied = "(0x80070005) Access denied.";
INSTANTIATE_TEST_SUITE_P(
    EachStep, RunSetUpTest,
    ::testing::Values(SetUpFailure{"CoInitialize", ": Cannot initialize COM :", kDenied},
                      SetUpFailure{"CoInitializeSecurity",
                                   ": Cannot secure the control interface :", kDenied},
                      SetUpFailure{"IRunningObjectTable::Register",
                                   ": Cannot register service in ROT :", kDenied},
                      SetUpFailure{"", ": Cannot register service in ROT :", "(0x80004005)"},
                      SetUpFailure{"SetTimer", ": Cannot start the watchdog's timer :", nullptr}));

TEST_F(RunLoopTest, AControlDocumentThatCannotBeChangedEndsTheRunFirst) {
  config.CtrlDoc = "C:\\Grid\\missing.doc";
  RunHost();
  EXPECT_EQ(Count(1001), 1u);
  EXPECT_EQ(Count(104), 0u);
  EXPECT_TRUE(fake.com.RegistrationAttempts().empty());
  EXPECT_TRUE(host.service.runFailed());
}

TEST_F(RunLoopTest, AStopServesMessagesUntilTheClientEndsWhichIsNeitherADeathNorRestarted) {
  // Another window of the run-loop thread stands for the COM calls that the stop's wait must
  // keep answering.
  std::vector<std::uint64_t> served;
  WindowHandle other = 0;
  fake.clock.After(1000, [&] {
    ASSERT_EQ(fake.windowing.CreateWindow(
                  {},
                  [&](WindowHandle, std::uint32_t m, std::uintptr_t, std::intptr_t) {
                    if (m == window_message::kUser) served.push_back(fake.clock.Elapsed());
                    return std::intptr_t{0};
                  },
                  &other),
              0u);
    Connect();
  });
  fake.clock.After(4000, [&] { ASSERT_EQ(calls.RequestStop(), kSOk); });
  fake.clock.After(5000, [&] {
    ASSERT_TRUE(fake.windowing.PostMessage(other, window_message::kUser, 0, 0));
    ASSERT_EQ(calls.Stop(), kSOk);  // asking again changes nothing
    ASSERT_EQ(calls.RequestStop(), kSOk);
  });
  fake.clock.After(6000, [&] {
    fake.processes.ExitChild(fake.processes.LastChild()->processId, 0);
    EXPECT_EQ(supervisor.WatchdogTick(), TickOutcome::kGoOn);
    ASSERT_EQ(calls.Restart(), kSOk);
  });
  RunHost();
  EXPECT_EQ(served, std::vector<std::uint64_t>{5000});
  EXPECT_EQ(fake.clock.Elapsed(), 6000u) << "the run ends once the client has";
  EXPECT_EQ(ClientEvents(), std::vector<std::uintptr_t>{client_event::kStop});
  EXPECT_EQ(Count(111) + Count(108), 0u);
  EXPECT_EQ(Count(401), 1u);
  EXPECT_EQ(ClientStarts(), 1u);
  EXPECT_EQ(fake.windowing.Windows(), std::vector<WindowHandle>{other});
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(RunLoopTest, TheLastComLockEndsAnApplicationRun) {
  host.service.Lock();
  fake.clock.After(1000, [&] { host.service.Unlock(); });
  RunHost();
  EXPECT_FALSE(supervisor.ClientRunning());
  EXPECT_FALSE(host.service.runFailed());
}

TEST_F(RunLoopTest, ADeathIsHeardOfAtOnceButAClientThatKeepsDyingStartsOnceASecond) {
  // The first client lives 2.5 s, every later one 200 ms.
  std::vector<std::uint64_t> starts;
  fake::FakeProgram first = fake::FakeProgram::ExitsAfter(2500, 7);
  fake::FakeProgram later = fake::FakeProgram::ExitsAfter(200, 7);
  first.onStart = later.onStart = [&](fake::FakeChild&) {
    starts.push_back(fake.clock.Elapsed());
    ClientProgram(later);
  };
  ClientProgram(first);
  fake.clock.After(10200, [&] { ASSERT_EQ(calls.Stop(), kSOk); });
  RunHost();
  EXPECT_EQ(starts,
            (std::vector<std::uint64_t>{0, 2500, 3500, 4500, 5500, 6500, 7500, 8500, 9500}));
  EXPECT_EQ(Count(108), 9u);
  EXPECT_EQ(fake.processes.OpenHandleCount(), 3u) << "the last child's handles and job only";
}

}  // namespace
}  // namespace keldran
