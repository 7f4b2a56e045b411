// The administrator's console commands on the real program, as a monitoring script runs them:
// /Status against a healthy, a hung and a stopped component, /Check on a clean and a broken INI
// file, and refusals written to the console; old daily files and the restart back-off.
#include "support_win32/host_test.h"

namespace keldran::test {
namespace {

class AdminCommandsTest : public HostTest {
 protected:
  // Runs the program for this component with the arguments; its console output to *text.
  DWORD Run(const std::string& arguments, std::string* text) {
    RunOptions options;
    options.outputFile = run_.dir().File("console.txt");
    options.handleBoxes = true;
    const RunResult result = run_.RunAgain(arguments, options);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.boxes.empty()) << arguments;  // a console command shows no box
    *text = run_.dir().Read("console.txt");
    return result.exitCode;
  }
};

TEST_F(AdminCommandsTest, StatusTellsAHealthyAHungAndAStoppedComponentApart) {
  HostSetup setup;
  // A visible client is reported when it times out but left alone, so its silence lasts.
  setup.iniLines = {"Show=1"};
  setup.script = "progress=Crunching numbers,0\n";
  StartHost(setup);
  WatchClient();
  // Its one heartbeat, with the progress text that a Running call would clear.
  ASSERT_TRUE(run_.WaitForOut("call Progress hr=", kWaitMs)) << run_.Out();

  std::string text;
  EXPECT_EQ(Run("/Status", &text), 0u) << text;
  EXPECT_NE(text.find("Registered:  as an application"), std::string::npos) << text;
  EXPECT_NE(text.find("Host:        running"), std::string::npos) << text;
  const std::string client =
      "Client:      process " + std::to_string(ClientPids(run_.Out())[0]) + ", running for";
  EXPECT_NE(text.find(client), std::string::npos) << text;
  EXPECT_NE(text.find("Progress:    Crunching numbers"), std::string::npos) << text;
  EXPECT_NE(text.find("State:       healthy"), std::string::npos) << text;

  ASSERT_TRUE(run_.WaitForLog("Client timed out without responding", kWaitMs)) << run_.Log();
  EXPECT_EQ(Run("/Status", &text), 2u) << text;
  EXPECT_NE(text.find("(time-out 4 s)"), std::string::npos) << text;
  EXPECT_NE(text.find("State:       timed out"), std::string::npos) << text;

  std::string stopped;
  EXPECT_EQ(Run("/Stop", &stopped), 0u) << stopped;
  ExpectHostEnds(0);
  EXPECT_EQ(Run("/Status", &text), 1u) << text;
  EXPECT_NE(text.find("Host:        not running"), std::string::npos) << text;
}

TEST_F(AdminCommandsTest, CheckNamesEveryProblemByItsKeyAndPassesAGoodFileAndRefusalsAreWritten) {
  HostSetup setup;
  ASSERT_TRUE(run_.Prepare(setup));
  std::string text;
  EXPECT_EQ(Run("/Check", &text), 0u) << text;
  EXPECT_NE(text.find("no problems found"), std::string::npos) << text;
  // A refusal goes to the console too.
  EXPECT_EQ(Run("/Quiet /Bogus", &text), 0x80004005u);
  EXPECT_NE(text.find("Invalid command line parameter: Option /Bogus not recognized"),
            std::string::npos)
      << text;

  HostSetup broken;
  broken.iniLines = {"Timout=5",         "Trace=abc",
                     "Show=1x",          "CtrlDoc=C:\\no\\such\\document.pdf",
                     "DelayedStart=1",   "MetricsFile=C:\\no\\such\\k.prom",
                     "MetricsInterval=0"};
  broken.clientCommand = "C:\\no\\such\\client.exe /x";
  HostRun other;
  ASSERT_TRUE(other.Prepare(broken));
  // Written after the registration, which refuses it.
  ASSERT_TRUE(WritePrivateProfileStringA("Service", "Recovery", "5,x",
                                         other.dir().File("host.ini").c_str()));
  RunOptions options;
  options.outputFile = other.dir().File("console.txt");
  const RunResult result = other.RunAgain("/Check", options);
  text = other.dir().Read("console.txt");
  // Taken out again: the unregistration at the end refuses it too.
  ASSERT_TRUE(WritePrivateProfileStringA("Service", "Recovery", nullptr,
                                         other.dir().File("host.ini").c_str()));
  EXPECT_EQ(result.exitCode, 1u) << text;
  for (const char* expected :
       {"8 problems", "Timout: not a key of the [Service] section",
        "MetricsFile: the folder C:\\no\\such does not exist",
        "MetricsInterval: 0 is not a number of seconds from 1 to 3600; a run uses 15",
        "Recovery: \"5,x\" is not a comma-separated list of delays in whole seconds",
        "Trace: \"abc\" is not a whole number; a run reads it as 0",
        "Show: \"1x\" is not a whole number; a run reads it as 1",
        "CommandLine: the client program C:\\no\\such\\client.exe does not exist",
        "CtrlDoc: the control document C:\\no\\such\\document.pdf does not exist"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
}

TEST_F(AdminCommandsTest, OldDailyFilesGoAndAClientThatKeepsEndingIsRestartedLessOften) {
  HostSetup setup;
  setup.iniLines = {"LogKeepDays=7", "RestartBackoff=4"};
  setup.script = "exit=3\n";
  ASSERT_TRUE(run_.Prepare(setup));
  const std::string logs = run_.dir().File("logs") + "\\";
  for (const std::string& name : {DayFileName(8), DayFileName(7), std::string("notes.txt")})
    ASSERT_TRUE(WriteWholeFile(logs + name, "kept?"));
  ASSERT_EQ(run_.Start(), 0u);
  // Ends at once every time: started at 0, about 2, 5 and 10 s, not every second.
  Sleep(9000);
  std::string text;
  EXPECT_EQ(Run("/Stop", &text), 0u) << text;
  ExpectHostEnds(0);

  EXPECT_FALSE(FileExists(logs + DayFileName(8)));
  EXPECT_TRUE(FileExists(logs + DayFileName(7)));
  EXPECT_TRUE(FileExists(logs + "notes.txt"));
  const std::string log = run_.Log();
  EXPECT_GE(run_.LogCount("Client started"), 3u) << log;
  EXPECT_LE(run_.LogCount("Client started"), 4u) << log;
  EXPECT_EQ(run_.LogCount("it is started again after"), 3u) << log;  // 1, 2 and 4 s
  EXPECT_NE(log.find("ended with exit code 3 (0x00000003) after"), std::string::npos) << log;
}

}  // namespace
}  // namespace keldran::test
