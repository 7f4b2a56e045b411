// The configuration's pure decisions: the service that each form of a component gets, the
// Logon forms, and the Recovery list.
#include <gtest/gtest.h>

#include "config/service_config.h"

namespace keldran {
namespace {

TEST(ServiceConfigDecisionsTest, EachComponentFormGetsItsService) {
  const std::string exe = "\"C:\\Program Files\\K\\KeldranGridAgent.exe\"";
  struct Case {
    const char* component;
    bool ownIniFile;
    const char* ini;
    const char* name;
    const char* displayName;
    const char* arguments;  // between the executable and " /Service"
  } cases[] = {
      {"Grid", false, "C:\\K\\KeldranGridAgent.INI", "KeldranGridAgent321",
       "Keldran Grid Agent 3.21", ""},
      {"gRID", false, "C:\\K\\KeldranGridAgent.INI", "KeldranGridAgent321",
       "Keldran Grid Agent 3.21", ""},
      {"Grid", true, "D:\\cfg\\grid.ini", "KeldranGridAgent321", "Keldran Grid Agent 3.21",
       " Grid@D:\\cfg\\grid.ini"},
      {"Lab", false, "C:\\K\\KeldranGridAgent.INI", "KeldranGridAgent321$Lab",
       "Keldran Grid Agent 3.21 (Lab)", " Lab@C:\\K\\KeldranGridAgent.INI"},
      {"Lab", true, "D:\\cfg\\lab.ini", "KeldranGridAgent321$Lab", "Keldran Grid Agent 3.21 (Lab)",
       " Lab@D:\\cfg\\lab.ini"},
      // A blank anywhere in the word quotes it whole.
      {"Night Batch", true, "D:\\my cfg\\b.ini", "KeldranGridAgent321$Night Batch",
       "Keldran Grid Agent 3.21 (Night Batch)", " \"Night Batch@D:\\my cfg\\b.ini\""},
      {"Grids", false, "C:\\K\\KeldranGridAgent.INI", "KeldranGridAgent321$Grids",
       "Keldran Grid Agent 3.21 (Grids)", " Grids@C:\\K\\KeldranGridAgent.INI"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.component) + (c.ownIniFile ? "@" : ""));
    const ServiceIdentity id = ServiceIdentityFor(c.component, c.ownIniFile, exe, c.ini);
    EXPECT_EQ(id.name, c.name);
    EXPECT_EQ(id.displayName, c.displayName);
    EXPECT_EQ(id.imagePath, exe + c.arguments + " /Service");
    EXPECT_EQ(id.namesComponent, *c.arguments != '\0');
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
      {"DOMAIN\\svc;p;w", true, "DOMAIN\\svc", "p;w"},
      {"svc", false, "", ""},
      {"svc;", false, "", ""},
      {";secret", false, "", ""},
      {"   ", false, "", ""},
      // No password needed; one given is dropped.
      {"LocalService", true, "NT AUTHORITY\\LocalService", ""},
      {"nt authority\\localservice;", true, "NT AUTHORITY\\LocalService", ""},
      {"NetworkService;ignored", true, "NT AUTHORITY\\NetworkService", ""},
      {"NT AUTHORITY\\NetworkService", true, "NT AUTHORITY\\NetworkService", ""},
      {"NT SERVICE\\KeldranGridAgent321$Lab", true, "NT SERVICE\\KeldranGridAgent321$Lab", ""},
      {"NT SERVICE\\", false, "", ""},
      {"CORP\\gridsvc$;ignored", true, "CORP\\gridsvc$", ""},
      {"$", false, "", ""},
      // Only the exact built-in names: anything else is an account of its own.
      {".\\LocalService", false, "", ""},
      {"LocalServices;pw", true, ".\\LocalServices", "pw"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("Logon=") + c.value);
    std::string account = "stale", password = "stale";
    EXPECT_EQ(ParseLogon(c.value, &account, &password), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(account, c.account);
    EXPECT_EQ(password, c.password);
  }
}

TEST(ServiceConfigDecisionsTest, RecoveryListsDelaysOrZeroAlone) {
  using Delays = std::vector<std::uint32_t>;
  struct Case {
    const char* value;
    std::optional<Delays> delays;
    const char* why;
  } cases[] = {
      {"5,30,60", Delays{5, 30, 60}, ""},
      {" 10 , 20 ", Delays{10, 20}, ""},
      {"86400", Delays{86400}, ""},
      {"0", Delays{}, ""},
      {"1,2,3,4,5,6,7,8", Delays{1, 2, 3, 4, 5, 6, 7, 8}, ""},
      {"1,2,3,4,5,6,7,8,9", std::nullopt, "\"1,2,3,4,5,6,7,8,9\" has more than 8 delays"},
      {"0,30", std::nullopt, "\"0,30\" mixes 0, which turns recovery off, with delays"},
      {"86401", std::nullopt,
       "\"86401\" is not a comma-separated list of delays in whole seconds, each 1 to 86400, or 0 "
       "for none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::string why;
    EXPECT_EQ(ParseRecovery(c.value, &why), c.delays);
    EXPECT_EQ(why, c.why);
  }
  // Not numbers, or not a list.
  for (const char* bad : {"5,,60", "5;30", "-5", "+5", "5s", "1e3", "0x10", ",", "5,", "9999999"}) {
    std::string why;
    EXPECT_FALSE(ParseRecovery(bad, &why)) << bad;
    EXPECT_NE(why.find("is not a comma-separated list"), std::string::npos) << bad;
  }
}

}  // namespace
}  // namespace keldran
