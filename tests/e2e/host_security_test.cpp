// A day's log file held by another process without write sharing delays records but never a
// healthy client's calls, and no record is lost. (The writer's queue is the native tests'.)
#include <algorithm>
#include <cstdlib>
#include <regex>

#include "common/handle.h"
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

constexpr DWORD kHoldMs = 12000;

using HostSecurityTest = HostTest;

TEST_F(HostSecurityTest, HeldLogFileCostsAHealthyClientNothingAndLosesNoRecord) {
  HostSetup setup;
  setup.script = "heartbeat=1000\nlog=1000\n";
  StartHost(setup);
  WatchClient();
  auto loggedRecords = [&] {
    static const std::regex record("client record (\\d{6})");
    const std::string log = run_.Log();
    std::vector<int> numbers;
    for (std::sregex_iterator it(log.begin(), log.end(), record), end; it != end; ++it)
      numbers.push_back(std::stoi((*it)[1]));
    return numbers;
  };
  ASSERT_TRUE(run_.WaitForLog("client record 000002", kWaitMs)) << run_.Out() << run_.Log();

  {
    // A viewer that opens the day's file to read it, sharing reading only.
    const std::string file = run_.dir().File("logs") + "\\" + DayFileName();
    tools::Handle viewer(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(viewer.valid()) << GetLastError();
    Sleep(kHoldMs);
  }
  // The writer catches up with every record the client has had answered.
  ASSERT_TRUE(
      WaitUntil([&] { return loggedRecords().size() >= run_.OutCount("hr=0x00000000 ms="); }, 5000))
      << run_.Out() << run_.Log();

  RunOptions boxes;
  boxes.handleBoxes = true;
  EXPECT_EQ(run_.RunAgain("/Stop", boxes).exitCode, 0u) << run_.Log();
  ExpectHostEnds(0);

  const std::string out = run_.Out();
  ASSERT_TRUE(client_->WaitForExit(0));
  EXPECT_EQ(client_->ExitCode(), 0u) << out;
  EXPECT_EQ(run_.OutCount(" start instance="), 1u) << out;
  EXPECT_EQ(run_.LogCount("Client timed out"), 0u) << run_.Log();

  // Every record once and in order: the ones the client had answered, and at most the one it
  // was inside when the stop came.
  const std::vector<std::string> answered = OutLines(out, "hr=0x00000000 ms=");
  EXPECT_GE(answered.size(), kHoldMs / 1000) << out;
  const std::vector<int> logged = loggedRecords();
  ASSERT_GE(logged.size(), answered.size()) << run_.Log();
  EXPECT_LE(logged.size(), answered.size() + 1) << run_.Log();
  for (size_t i = 0; i < logged.size(); ++i) ASSERT_EQ(logged[i], static_cast<int>(i + 1));

  // No Log call waited for the file.
  unsigned long slowest = 0;
  for (const std::string& line : answered)
    slowest = std::max(slowest, std::strtoul(line.c_str() + line.rfind("ms=") + 3, nullptr, 10));
  EXPECT_LT(slowest, 1000ul) << out;
}

}  // namespace
}  // namespace keldran::test
