// The command line: the component, the options with their exact rejection texts, their
// combinations, and the settings applied over the INI file's values.
#include <gtest/gtest.h>

#include "config/command_line.h"
#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineResult Parse(const std::string& line) { return ParseCommandLine(fake.texts, line); }
  fake::FakePlatform fake;
};

// The flags a command line set, by name, for the tables.
std::string FlagNames(const RunFlags& f) {
  return std::string(f.RunAsService && f.ServiceSwitch ? "RunAsService " : "") +
         (f.Quiet ? "Quiet " : "") + (f.StatusRequested ? "Status " : "") +
         (f.CheckRequested ? "Check " : "") + (f.RegApp ? "RegApp " : "") +
         (f.UnReg ? "UnReg " : "") + (f.RegServ ? "RegServ " : "") +
         (f.CommitStep ? "Commit " : "") + (f.RemoveStep ? "Remove " : "") +
         (f.ReplaceConfig ? "ReplaceConfig " : "") + (f.UpgradeCommit ? "Upgrade " : "");
}

// Words split at blanks, quotes group and vanish, and only a word's first character starts an
// option: the at-sign form takes any path, and "-" or "/" inside a word is text. Option names
// ignore case and their lead character; installer steps are quiet and imply their registration.
TEST_F(CommandLineTest, ComponentIsTheLeadingWordsUnquotedOrGridAndOptionsSetTheirFlags) {
  struct Case {
    std::string commandLine;
    std::string component;
    std::string flags;
  } cases[] = {
      {"", "Grid", ""},
      {"Grid Test /Service", "Grid Test", "RunAsService Quiet "},
      {"Grid  Test", "Grid Test", ""},  // blanks separate; empty words vanish
      {std::string(400, 'w') + " /Quiet", std::string(400, 'w'), "Quiet "},  // read in full
      {R"("Grid@C:\a  b\k.ini" /Status)", R"(Grid@C:\a  b\k.ini)", "Quiet Status "},
      {R"(Grid@D:\grid-config\g.ini /Check)", R"(Grid@D:\grid-config\g.ini)", "Quiet Check "},
      {R"(E1@Z:\kga-bar02.U3LV\c.ini -regapp)", R"(E1@Z:\kga-bar02.U3LV\c.ini)", "RegApp "},
      {"\"-x\" \" a  b \"", "-x  a  b ", ""},  // quoted signs are text, quoted blanks stay
      // An open quote runs to the end of the line: nothing after it is an option.
      {R"(Grid@"C:\a b\k.ini /Status)", R"(Grid@C:\a b\k.ini /Status)", ""},
      {"-regserv /timeout=30 -QUIET /Service", "Grid", "RunAsService Quiet RegServ "},
      {"/Commit", "Grid", "Quiet RegServ Commit "},
      {"/uninstall", "Grid", "Quiet UnReg Remove "},
      {"/Commit /ReplaceConfig=1 /Upgrade={A};{B}", "Grid",
       "Quiet RegServ Commit ReplaceConfig Upgrade "},
      {"/Commit /ReplaceConfig= /Upgrade=", "Grid", "Quiet RegServ Commit "},
  };
  for (const auto& c : cases) {
    const CommandLineResult r = Parse(c.commandLine);
    EXPECT_EQ(r.parsed.component, c.component) << c.commandLine;
    EXPECT_EQ(FlagNames(r.parsed.flags), c.flags) << c.commandLine;
    EXPECT_FALSE(r.rejection) << c.commandLine;
  }
}

// A bad option is refused as the line is read; a bad combination of good ones after.
TEST_F(CommandLineTest, BadOptionsAndCombinationsAreRefusedWithTheirExactText) {
  using namespace std::string_literals;
  struct Case {
    std::string commandLine;
    std::optional<std::string> text;  // none: accepted
  } cases[] = {
      {"/Quiet word", "Unrecognized value following option /Quiet"},
      {"/Embedding", "Option /Embedding not recognized"},
      {"/Timeout=", "Unrecognized parameter value specified for option /Timeout="},
      {"/TIMEOUT=-1", "Unrecognized parameter value specified for option /TIMEOUT=-1"},
      {"/Timeout=99999999999",
       "Unrecognized parameter value specified for option /Timeout=99999999999"},
      // The digits before a NUL are not the whole value (nor is the /Service after it an option).
      {"/Timeout=30\0x/Service "s,
       "Unrecognized parameter value specified for option /Timeout=30\0x/Service"s},
      {"/RegServ /UnReg /RegApp", "You cannot code /UnReg and /RegServ /RegApp  options together"},
      {"/Start /Stop", "You cannot code /Start option together with /Stop"},
      {"/Start /Debug", "You cannot code /Start option together with /Debug "},
      {"/stop /Timeout=5 -auto", "You cannot code /Stop option together with /Timeout=5 /auto "},
      {"/Stop /Quiet", std::nullopt},
      {"/RegService /Set:Timeout=5 /Upgrade=",
       "You cannot code /Set:Timeout= /Upgrade= options without /Commit"},
      {"/Check /Json", "You cannot code /Json option without /Status"},
      {"/Status /Json /Quiet", std::nullopt},
  };
  for (const auto& c : cases) {
    const CommandLineResult r = Parse(c.commandLine);
    EXPECT_EQ(r.rejection ? r.rejection : CheckOptionCombination(r.parsed), c.text)
        << c.commandLine;
  }
}

// An installer formats its properties into the commit's command line as they are: paths come
// quoted, and the client's command line, which holds quotes of its own, runs to the line's end.
TEST_F(CommandLineTest, InstallerValuesForTheCommit) {
  struct Case {
    std::string commandLine;
    std::vector<IniSetting> values;
    std::optional<std::string> rejection;
  } cases[] = {
      {R"(/Commit /Set:Timeout="30" /Set:workingdir="C:\a  b" /Set:CommandLine="C:\P F\c.exe" /a "b  c"  )",
       {{"Timeout", "30"},
        {"WorkingDir", R"(C:\a  b)"},
        {"CommandLine", R"("C:\P F\c.exe" /a "b  c")"}},
       {}},
      // Nothing after it is an option, and an empty property gives an empty value.
      {"/Commit /Set:LogDir=\"\" -SET:COMMANDLINE= /Quiet",
       {{"LogDir", ""}, {"CommandLine", "/Quiet"}},
       {}},
      {"/Commit /Set:Logon=x", {}, "Option /Set:Logon=x not recognized"},
      {R"(/Commit /Set:WorkingDir=C:\a b)",
       {},
       R"(Unrecognized value following option /Set:WorkingDir=C:\a)"},
  };
  for (const auto& c : cases) {
    const CommandLineResult r = Parse(c.commandLine);
    EXPECT_EQ(r.rejection, c.rejection) << c.commandLine;
    EXPECT_EQ(r.parsed.iniSettings, c.values) << c.commandLine;
  }
}

TEST_F(CommandLineTest, SettingsOverrideTheIniValuesWithDebugAndReleaseInterplay) {
  struct Case {
    const char* options;
    std::int32_t iniTimeout, iniDebug, iniShow;
    std::int32_t debug, timeout, show;
  } cases[] = {
      {"/Timeout=45 /Debug", 60, 0, 0, 1, 45, 1},
      {"/Hide /Debug", 60, 0, 0, 1, 0, 0},
      {"/Release", 120, 1, 1, 0, 120, 0},
      {"/Release", 0, 0, 0, 0, 60, 0},
      {"/Show /Release", 60, 0, 0, 0, 60, 1},
      {"/Timeout=0", 120, 0, 0, 0, 0, 0},  // time-outs off: no refusal
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Configuration config;
    config.Timeout = c.iniTimeout;
    config.Debug = c.iniDebug;
    config.Show = c.iniShow;
    const CommandLineResult parsed = Parse(c.options);
    EXPECT_FALSE(parsed.rejection);
    ApplyCommandLineSettings(parsed.parsed.settings, &config);
    EXPECT_EQ(config.Debug, c.debug);
    EXPECT_EQ(config.Timeout, c.timeout);
    EXPECT_EQ(config.Show, c.show);
  }
  Configuration config;
  ApplyCommandLineSettings(Parse("/Manual /Auto").parsed.settings, &config);
  EXPECT_EQ(config.AutoStart, 1);
}

}  // namespace
}  // namespace keldran
