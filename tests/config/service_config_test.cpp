// The configuration's pure decisions: the service of each component form, the Logon forms, and
// the Recovery list.
#include <gtest/gtest.h>

#include <map>

#include "config/client_settings.h"
#include "config/ini_keys.h"
#include "config/service_config.h"
#include "platform/fake/profile_files.h"

namespace keldran {
namespace {

TEST(ServiceConfigDecisionsTest, EachComponentFormGetsItsService) {
  struct Case {
    const char* component;
    bool ownIniFile;
    const char* name;
    const char* imagePath;
  } cases[] = {
      {"Grid", false, "KeldranGridAgent321", "K.exe /Service"},
      {"gRID", false, "KeldranGridAgent321", "K.exe /Service"},
      {"Grid", true, "KeldranGridAgent321", "K.exe Grid@D:\\a.ini /Service"},
      {"Lab", false, "KeldranGridAgent321$Lab", "K.exe Lab@D:\\a.ini /Service"},
      // A blank anywhere in the word quotes it whole.
      {"Night Batch", true, "KeldranGridAgent321$Night Batch",
       "K.exe \"Night Batch@D:\\a.ini\" /Service"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.imagePath);
    const ServiceIdentity id = ServiceIdentityFor(c.component, c.ownIniFile, "K.exe", "D:\\a.ini");
    EXPECT_EQ(id.name, c.name);
    const bool grid = id.name == "KeldranGridAgent321";
    EXPECT_EQ(id.displayName, "Keldran Grid Agent 3.21" +
                                  (grid ? std::string() : " (" + std::string(c.component) + ")"));
    EXPECT_EQ(id.imagePath, c.imagePath);
    EXPECT_EQ(id.namesComponent, id.imagePath != "K.exe /Service");
  }
}

TEST(ServiceConfigDecisionsTest, LogonFormsAndWhichNeedAPassword) {
  struct Case {
    const char* value;
    bool ok;
    const char* account;
    const char* password;
  } cases[] = {
      {"", true, "", ""},
      {"   svc;secret", true, ".\\svc", "secret"},
      {"svc;", false, "", ""},
      // No password needed; one given is dropped.
      {"nt authority\\localservice;", true, "NT AUTHORITY\\LocalService", ""},
      {"NT SERVICE\\KeldranGridAgent321$Lab", true, "NT SERVICE\\KeldranGridAgent321$Lab", ""},
      {"NT SERVICE\\", false, "", ""},
      {"CORP\\gridsvc$;ignored", true, "CORP\\gridsvc$", ""},
      {"$", false, "", ""},
      // Only the exact built-in names.
      {".\\LocalService", false, "", ""},
      {"LocalServices;pw", true, ".\\LocalServices", "pw"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("Logon=") + c.value);
    std::string account = "stale", password = "stale";
    EXPECT_EQ(ParseLogon(c.value, &account, &password), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(account + "|" + password, std::string(c.account) + "|" + c.password);
  }
}

TEST(ServiceConfigDecisionsTest, RecoveryListsDelaysOrZeroAlone) {
  using Delays = std::vector<std::uint32_t>;
  const std::string notAList =
      " is not a comma-separated list of delays in whole seconds, each 1 "
      "to 86400, or 0 for none";
  struct Case {
    const char* value;
    std::optional<Delays> delays;
    std::string why;
  } cases[] = {
      {" 5, 30 ,60", Delays{5, 30, 60}, ""},
      {"0", Delays{}, ""},
      {"1,2,3,4,5,6,7,86400", Delays{1, 2, 3, 4, 5, 6, 7, 86400}, ""},
      {"1,2,3,4,5,6,7,8,9", std::nullopt, "\"1,2,3,4,5,6,7,8,9\" has more than 8 delays"},
      {"0,30", std::nullopt, "\"0,30\" mixes 0, which turns recovery off, with delays"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(ParseRecovery(c.value, &why), c.delays) << c.value;
    EXPECT_EQ(why, c.why);
  }
  for (const char* bad :
       {"86401", "5,,60", "5;30", "-5", "+5", "5s", "0x10", ",", "5,", "9999999"}) {
    std::string why;
    EXPECT_FALSE(ParseRecovery(bad, &why));
    EXPECT_EQ(why, "\"" + std::string(bad) + "\"" + notAList);
  }
}

}  // namespace
}  // namespace keldran

namespace keldran {
namespace {

TEST(ClientSettingsTest, PriorityAffinityAndExitCodesParseOrSayWhy) {
  std::string why;
  const std::pair<const char*, std::optional<std::uint32_t>> priorities[] = {
      {"", 0u},
      {"idle", 0x40u},
      {" Below Normal ", 0x4000u},
      {"below_normal", 0x4000u},
      {"ABOVE-NORMAL", 0x8000u},
      {"high", 0x80u},
      {"realtime", {}},
      {"below  normal x", {}}};
  for (const auto& [text, value] : priorities) EXPECT_EQ(ParsePriority(text, &why), value) << text;
  const std::pair<const char*, std::optional<std::uint64_t>> affinities[] = {
      {"", 0u},    {"0", 1u},  {"0,2-3", 0xDu}, {" 1 , 63 ", 0x8000000000000002ull},
      {"3-2", {}}, {"64", {}}, {"1,,2", {}},    {"-1", {}},
      {"0x1", {}}};
  for (const auto& [text, mask] : affinities) EXPECT_EQ(ParseAffinity(text, &why), mask) << text;
  EXPECT_EQ(why, "\"0x1\" is not a list of processor numbers 0 to 63 and ranges such as 2-5");

  using Codes = std::vector<std::uint32_t>;
  EXPECT_EQ(ParseExitCodes("", &why), Codes{});
  EXPECT_EQ(ParseExitCodes("0, 3,4294967295", &why), (Codes{0, 3, 0xFFFFFFFFu}));
  EXPECT_EQ(ParseExitCodes("-2147467259", &why), Codes{0x80004005u});
  for (const char* bad : {"3;4", "4294967296", "x", "3,"}) {
    EXPECT_FALSE(ParseExitCodes(bad, &why)) << bad;
  }
}

TEST(ServiceConfigLoadTest, ValuesUpToTheBufferAreKeptAndLongerOnesRefusedByName) {
  const std::string fits(255, 'x');  // "C:\" + 255 + "\" : 259 characters
  const struct {
    const char* name;
    std::map<std::string, std::string> keys;
    std::uint32_t refusal;  // 0: none
    std::string insert;
  } cases[] = {
      {"259 characters fit", {{"commandline", "C:\\" + fits + "\\"}}, 0, ""},
      {"260 do not",
       {{"commandline", "C:\\" + fits + "x\\"}},
       910,
       "CommandLine (the value is longer than 259 characters once its macros are expanded)"},
      {"a macro that makes it too long",
       {{"datadir", "C:\\" + fits}, {"commandline", "%DATADIR%\\a"}},
       910,
       "CommandLine (the value is longer than 259 characters once its macros are expanded)"},
      {"the first too long key is named",
       {{"gsdir", std::string(300, 'g')}, {"logon", std::string(300, 'l')}},
       910,
       "GSDir (the value is longer than 259 characters once its macros are expanded)"},
      {"a working folder of 260",
       {{"commandline", "a.exe"}, {"workingdir", fits + "12345"}},
       910,
       "WorkingDir (the value is longer than 259 characters)"},
      {"an at sign alone", {{"commandline", "@"}}, 910, "CommandLine"},
      {"a password without its account", {{"commandline", "C:\\a.exe"}, {"logon", ";pw"}}, 912, ""},
  };
  Configuration paths;
  paths.ExeDir = "C:\\K\\";
  paths.ExePath = "C:\\K\\KeldranGridAgent.exe";
  for (const auto& c : cases) {
    fake::ProfileFiles files(c.keys);
    const ConfigLoad load = ReadServiceConfig(files, paths, "Grid", {});
    EXPECT_EQ(load.refusal ? load.refusal->eventId : 0u, c.refusal) << c.name;
    if (load.refusal && !c.insert.empty()) {
      EXPECT_EQ(load.refusal->insert, c.insert) << c.name;
    }
    EXPECT_EQ(load.eventSource, "KeldranGridAgent321") << c.name;
    if (c.insert.rfind("WorkingDir", 0) == 0) {
      EXPECT_EQ(load.config.WorkingDir, "") << "a refused folder is not kept (it once was)";
    }
  }
}

TEST(ServiceConfigLoadTest, NumbersHaveTheirDefaultsAndAnIntervalOutOfRangeIsTheDefault) {
  Configuration paths;
  paths.ExeDir = "C:\\K\\";
  std::map<std::string, std::string> keys = {{"commandline", "C:\\a.exe"}};
  fake::ProfileFiles files(keys);
  ConfigLoad load = ReadServiceConfig(files, paths, "Lab@lab.ini", {});
  ASSERT_FALSE(load.refusal);
  EXPECT_EQ(load.config.Timeout, 60);
  EXPECT_EQ(load.config.LogPre, "Lab");
  EXPECT_EQ(load.eventSource, "KeldranService.Lab");
  EXPECT_EQ(load.config.RecoveryDelays, (std::vector<std::uint32_t>{5, 30, 60}));
  for (const char* interval : {"0", "3601"}) {
    keys["metricsinterval"] = interval;
    EXPECT_EQ(ReadServiceConfig(files, paths, "Lab", {}).config.MetricsInterval, 15) << interval;
  }
  keys["metricsinterval"] = "3600";
  EXPECT_EQ(ReadServiceConfig(files, paths, "Lab", {}).config.MetricsInterval, 3600);
}

// A macro stands for its field as read so far (GSDir is read after LogPre); a component named
// like a macro does not make the replacement loop.
TEST(ServiceConfigLoadTest, MacrosStandForTheFieldsReadBeforeThemAndDoNotLoop) {
  Configuration paths;
  paths.ExeDir = "C:\\K\\";
  const std::map<std::string, std::string> keys = {{"commandline", "%INIDIR%\\c.exe %COMP% %COMP%"},
                                                   {"logpre", "%GSDIR%pre"},
                                                   {"gsdir", "%WINDIR%\\gs\\"}};
  fake::ProfileFiles files(keys);
  const ConfigLoad load = ReadServiceConfig(files, paths, "%COMP%", {});
  ASSERT_FALSE(load.refusal);
  EXPECT_EQ(load.config.CommandLine, "C:\\K\\c.exe %COMP% %COMP%");
  EXPECT_EQ(load.config.LogPre, "pre");
  EXPECT_EQ(load.config.GSDir, "C:\\windows\\gs");
}

TEST(ServiceConfigLoadTest, CheckFlagsUnknownKeysButNeitherCommentsNorKnownOnesInAnyCase) {
  using Keys = std::vector<std::string>;
  const std::string entries[] = {"Timout=60",   " ;Timout=60", "timeout=60", "  LOGDIR = x",
                                 "DumpKeeps=1", ";",           "   ",        "Show"};
  std::string section;
  for (const std::string& e : entries) section += e + '\0';
  EXPECT_EQ(UnknownServiceKeys(section), (Keys{"Timout", "DumpKeeps"}));
  EXPECT_EQ(UnknownServiceKeys(std::string("Bad=1", 5)), Keys{"Bad"});  // no final NUL
}

}  // namespace
}  // namespace keldran
