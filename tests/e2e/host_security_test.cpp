// What the real host holds up: a day's log file or the hosts' log mutex held by another process
// delays records but never a healthy client's calls, and no record is lost. (That the service
// account's password never reaches a client or the log is HostControlTest's.)

// The platform's headers come before the Windows headers, whose A/W macros would rename the
// interfaces' methods.
#include "log/log.h"

#include <algorithm>
#include <cstdlib>
#include <regex>

#include "common/handle.h"
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kHoldMs = 12000;

class HostSecurityTest : public HostTest {
 protected:
  // The client's numbered records in the log, in file order.
  std::vector<int> LoggedRecords() const {
    static const std::regex record("client record (\\d{6})");
    const std::string log = run_.Log();
    std::vector<int> numbers;
    for (std::sregex_iterator it(log.begin(), log.end(), record), end; it != end; ++it)
      numbers.push_back(std::stoi((*it)[1]));
    return numbers;
  }
  // The writer has caught up with every record the client has had answered.
  bool CaughtUp() const { return LoggedRecords().size() >= run_.OutCount("hr=0x00000000 ms="); }
};

TEST_F(HostSecurityTest, HeldLogFileOrMutexCostsAHealthyClientNothingAndLosesNoRecord) {
  HostSetup setup;
  setup.timeoutSeconds = 4;
  setup.script = "heartbeat=1000\nlog=1000\n";
  StartHost(setup);
  WatchClient();
  ASSERT_TRUE(run_.WaitForLog("client record 000002", kWaitMs)) << run_.Out() << run_.Log();

  {
    // A viewer that opens the day's file to read it, sharing reading only.
    const std::string file = run_.dir().File("logs") + "\\" + DayFileName();
    tools::Handle viewer(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(viewer.valid()) << GetLastError();
    Sleep(kHoldMs);
  }
  ASSERT_TRUE(WaitUntil([&] { return CaughtUp(); }, 5000)) << run_.Out() << run_.Log();
  {
    // Another process holds the mutex that every host's writer takes for its appends.
    tools::Handle mutex(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, Log::kMutexName));
    ASSERT_TRUE(mutex.valid()) << GetLastError();
    ASSERT_EQ(WaitForSingleObject(mutex.get(), 5000), WAIT_OBJECT_0);
    Sleep(kHoldMs);
    ReleaseMutex(mutex.get());
  }
  ASSERT_TRUE(WaitUntil([&] { return CaughtUp(); }, 5000)) << run_.Out() << run_.Log();

  RunOptions boxes;
  boxes.handleBoxes = true;
  EXPECT_EQ(run_.RunAgain("/Stop", boxes).exitCode, 0u) << run_.Log();
  ExpectHostEnds(0);

  // Never timed out, killed or replaced: it ended on the stop.
  const std::string out = run_.Out();
  ASSERT_TRUE(client_->WaitForExit(0));
  EXPECT_EQ(client_->ExitCode(), 0u) << out;
  EXPECT_EQ(run_.OutCount(" start instance="), 1u) << out;
  EXPECT_EQ(run_.LogCount("Client timed out"), 0u) << run_.Log();

  // Every record once and in order: the ones the client had answered, and at most the one it
  // was inside when the stop came.
  const std::vector<std::string> answered = OutLines(out, "hr=0x00000000 ms=");
  EXPECT_GE(answered.size(), (2 * kHoldMs) / 1000) << out;
  const std::vector<int> logged = LoggedRecords();
  ASSERT_GE(logged.size(), answered.size()) << run_.Log();
  EXPECT_LE(logged.size(), answered.size() + 1) << run_.Log();
  for (size_t i = 0; i < logged.size(); ++i) ASSERT_EQ(logged[i], static_cast<int>(i + 1));

  // No Log call waited for the file or the mutex.
  unsigned long slowest = 0;
  for (const std::string& line : answered)
    slowest = std::max(slowest, std::strtoul(line.c_str() + line.rfind("ms=") + 3, nullptr, 10));
  RecordProperty("slowest_log_call_ms", static_cast<int>(slowest));
  EXPECT_LT(slowest, 1000ul) << out;
}

}  // namespace
}  // namespace keldran::test
