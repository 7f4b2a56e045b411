// The administrator's console commands on the real program, as a monitoring script runs them:
// their exit codes and console output against a real host and real files.
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

class AdminCommandsTest : public HostTest {
 protected:
  DWORD Run(const HostRun& run, const std::string& arguments, std::string* text) {
    RunOptions options;
    options.outputFile = run.dir().File("console.txt");
    options.handleBoxes = true;
    const RunResult result = run.RunAgain(arguments, options);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.boxes.empty()) << arguments;  // a console command shows no box
    *text = run.dir().Read("console.txt");
    return result.exitCode;
  }
};

// The host's start also takes away daily files older than LogKeepDays, and only those.
TEST_F(AdminCommandsTest, StatusTellsAHealthyAHungAndAStoppedComponentApart) {
  HostSetup setup;
  // A visible client is reported when it times out but left alone, so its silence lasts.
  setup.iniLines = {"Show=1", "LogKeepDays=7"};
  setup.script = "progress=Crunching numbers,0\n";
  ASSERT_TRUE(run_.Prepare(setup));
  const std::string logs = run_.dir().File("logs") + "\\";
  for (const std::string& name : {DayFileName(8), DayFileName(7), std::string("notes.txt")})
    ASSERT_TRUE(WriteWholeFile(logs + name, "kept?"));
  ASSERT_EQ(run_.Start(), 0u);
  WatchClient();
  // Its one heartbeat, with the progress text that a Running call would clear.
  ASSERT_TRUE(run_.WaitForOut("call Progress hr=", kWaitMs)) << run_.Out();

  std::string text;
  EXPECT_EQ(Run(run_, "/Status", &text), 0u) << text;
  for (const std::string& line :
       {std::string("Registered:  as an application"), std::string("Host:        running"),
        std::string("State:       healthy"), std::string("Progress:    Crunching numbers"),
        "Client:      process " + std::to_string(ClientPids(run_.Out())[0]) + ", running for"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;

  ASSERT_TRUE(run_.WaitForLog("Client timed out without responding", kWaitMs)) << run_.Log();
  EXPECT_EQ(Run(run_, "/Status", &text), 2u) << text;
  EXPECT_NE(text.find("State:       timed out"), std::string::npos) << text;
  EXPECT_NE(text.find("(time-out 4 s)"), std::string::npos) << text;

  EXPECT_EQ(Run(run_, "/Stop", &text), 0u) << text;
  ExpectHostEnds(0);
  EXPECT_EQ(Run(run_, "/Status", &text), 1u) << text;
  EXPECT_NE(text.find("Host:        not running"), std::string::npos) << text;
  EXPECT_FALSE(FileExists(logs + DayFileName(8)));
  EXPECT_TRUE(FileExists(logs + DayFileName(7)));
  EXPECT_TRUE(FileExists(logs + "notes.txt"));
}

// The checks of real files and folders; the rest of /Check is the native tests'.
TEST_F(AdminCommandsTest, CheckNamesEveryProblemByItsKeyAndPassesAGoodFileAndRefusalsAreWritten) {
  ASSERT_TRUE(run_.Prepare({}));
  std::string text;
  EXPECT_EQ(Run(run_, "/Check", &text), 0u) << text;
  EXPECT_NE(text.find("no problems found"), std::string::npos) << text;
  EXPECT_EQ(Run(run_, "/Quiet /Bogus", &text), 0x80004005u);
  EXPECT_NE(text.find("Option /Bogus not recognized"), std::string::npos) << text;

  HostSetup broken;
  broken.iniLines = {"Timout=5", "MetricsFile=C:\\no\\such\\k.prom"};
  broken.clientCommand = "C:\\no\\such\\client.exe /x";
  HostRun other;
  ASSERT_TRUE(other.Prepare(broken));
  EXPECT_EQ(Run(other, "/Check", &text), 1u) << text;
  for (const char* expected :
       {"3 problems", "MetricsFile: the folder C:\\no\\such does not exist",
        "CommandLine: the client program C:\\no\\such\\client.exe does not exist"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
}

}  // namespace
}  // namespace keldran::test
