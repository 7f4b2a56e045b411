// Console clients that know nothing of IService under the real host: what they are started with,
// their real pipes, console stop and minidumps.
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

using ClientOutputTest = HostTest;

std::string ConsoleClient(const std::string& steps) {
  return "\"" + ProgramPath("echo_child.exe") + "\" client.out " + steps;
}

std::string OutputFile(const HostRun& run) {
  return run.dir().Read("logs\\" + run.component() + "-output-" + DayFileName());
}

TEST_F(ClientOutputTest, AClientsLinesReachTheOutputFileInOrderAndItsDeathQuotesItsStandardError) {
  HostSetup setup;
  setup.clientCommand =
      ConsoleClient("out=first err=bad-one out=second err=bad-two out=third exit=3");
  StartHost(setup);
  ASSERT_TRUE(run_.WaitForLog("Client stopped unexpectedly", kWaitMs)) << run_.Log();
  EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u);
  ExpectHostEnds(0);
  const std::string file = OutputFile(run_);
  // In order per stream; the C runtime's CR LF into a pipe becomes the file's own CR LF.
  for (const auto& [first, second] : {std::pair{" out first\r\n", " out second\r\n"},
                                      {" out second\r\n", " out third\r\n"},
                                      {" err bad-one\r\n", " err bad-two\r\n"}}) {
    EXPECT_LT(file.find(first), file.find(second)) << file;
    EXPECT_NE(file.find(second), std::string::npos) << file;
  }
  EXPECT_EQ(file.find("\r\r\n"), std::string::npos) << file;
  const std::string log = run_.Log();
  EXPECT_NE(
      log.find("Client stopped unexpectedly : last lines on standard error: bad-one | bad-two"),
      std::string::npos)
      << log;
  EXPECT_NE(log.find("ended with exit code 3 (0x00000003) after "), std::string::npos) << log;
}

// The dump that the nth kill record names.
std::string DumpOfKill(const std::string& log, size_t nth) {
  const std::vector<std::string> kills = OutLines(log, "; its minidump: ");
  if (nth >= kills.size()) return {};
  return kills[nth].substr(kills[nth].find("; its minidump: ") + 16);
}

TEST_F(ClientOutputTest, ASilentClientLeavesAMinidumpAndDumpKeepBoundsTheirNumber) {
  HostSetup setup;
  setup.timeoutSeconds = 2;
  setup.clientCommand = ConsoleClient("pid wait");
  setup.iniLines = {"DumpKeep=1"};
  StartHost(setup);
  ASSERT_TRUE(run_.WaitForOut("\npid ", kWaitMs)) << run_.Out();
  const std::string out = run_.Out();
  const DWORD pid = std::strtoul(out.c_str() + out.find("\npid ") + 5, nullptr, 10);
  ASSERT_TRUE(run_.WaitForLog("; its minidump: ", kWaitMs)) << run_.Log();
  const std::string first = DumpOfKill(run_.Log(), 0);
  EXPECT_NE(first.find("\\dumps\\" + run_.component() + "-" + std::to_string(pid) + "-"),
            std::string::npos)
      << first;

  ASSERT_TRUE(
      WaitUntil([&] { return OutLines(run_.Log(), "; its minidump: ").size() >= 2; }, kWaitMs * 2))
      << run_.Log();
  EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u);
  ExpectHostEnds(0);
  const std::string log = run_.Log();
  EXPECT_EQ(GetFileAttributesA(first.c_str()), INVALID_FILE_ATTRIBUTES) << "beyond DumpKeep";
  // The latest kill's dump stays; on a slow machine there may have been more than two kills.
  const std::string last = DumpOfKill(log, OutLines(log, "; its minidump: ").size() - 1);
  EXPECT_NE(GetFileAttributesA(last.c_str()), INVALID_FILE_ATTRIBUTES) << last;
}

TEST_F(ClientOutputTest, AConsoleClientSeesItsSettingsFloodsUpToTheCapAndAListedExitCodeEnds) {
  HostSetup setup;
  setup.clientCommand =
      ConsoleClient("report=KELDRAN_GREETING report=KeldranService_PDF_PARAMS flood=3 exit=3");
  setup.iniLines = {"Priority=Below Normal", "Affinity=0", "StopExitCodes=0,3", "OutputMaxMB=1"};
  // A configured variable cannot stand in for the host's parameters.
  setup.moreIni =
      "[Environment]\r\nKELDRAN_GREETING=%COMP% says hello\r\n"
      "KeldranService_PDF_PARAMS=spoofed\r\n";
  StartHost(setup);
  ExpectHostEnds(0);
  const std::string out = run_.Out();
  // Its identity comes last on its command line and alone in the variable.
  const std::string params =
      " /ServiceID=" + run_.serviceId() + " /ServiceName=KeldranGridAgent321$" + run_.component();
  EXPECT_EQ(out.rfind(setup.clientCommand + params + "\n" + params + "\n", 0), 0u) << out;
  EXPECT_TRUE(run_.OutHas("env KELDRAN_GREETING=" + run_.component() + " says hello")) << out;
  // Wine's CreateProcess ignores priority flags: the host sets the class itself.
  EXPECT_TRUE(run_.OutHas("priority 0x4000")) << out;  // BELOW_NORMAL_PRIORITY_CLASS
  EXPECT_TRUE(run_.OutHas("affinity 0x1")) << out;
  EXPECT_TRUE(run_.OutHas("env KeldranService_PDF_PARAMS=" + params + "\n")) << out;
  EXPECT_EQ(run_.LogCount("exit code 3, which StopExitCodes names"), 1u) << run_.Log();

  const std::string file = OutputFile(run_);
  EXPECT_LE(file.size(), (1u << 20) + 200) << "the cap and its note";
  const size_t note = file.find(" note ");
  ASSERT_NE(note, std::string::npos) << file.substr(file.size() > 400 ? file.size() - 400 : 0);
  EXPECT_EQ(file.find(" note ", note + 1), std::string::npos) << "one note";
}

TEST_F(ClientOutputTest, AStopAsksAClientWithoutAWindowThroughItsConsole) {
  HostSetup setup;
  setup.timeoutSeconds = 30;
  setup.clientCommand = ConsoleClient("wait");
  StartHost(setup);
  ASSERT_TRUE(run_.WaitForLog("Client started", kWaitMs)) << run_.Log();
  const DWORD before = GetTickCount();
  EXPECT_EQ(run_.RunAgain("/Stop").exitCode, 0u) << run_.Log();
  ExpectHostEnds(0);
  EXPECT_LT(GetTickCount() - before, 8000u) << "within the grace, not after the whole wait";
  // Wine cannot send Ctrl+Break; the host falls back to Ctrl+C (event 0).
  EXPECT_TRUE(run_.OutHas("ctrl ")) << run_.Out();
}

}  // namespace
}  // namespace keldran::test
