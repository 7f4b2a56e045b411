// How a client finds its host's ServiceID and service name: from the end of its command line,
// else from the environment variable that the host also sets.
#include "gridutil/host_params.h"

#include <gtest/gtest.h>

namespace keldran::gridutil {
namespace {

TEST(HostParamsTest, ParametersAreTheLastWordsAndTheNameRunsToTheEnd) {
  struct Case {
    const char* text;
    std::optional<HostParams> expected;
  };
  const Case cases[] = {
      {R"(cscript.exe //nologo "C:\Grid\client.vbs" /ServiceID={AB-12} /ServiceName=GridSvc)",
       HostParams{"{AB-12}", "GridSvc"}},
      // An unquoted name with a blank is still one name; trailing blanks are not part of it.
      {"client.exe /ServiceID={X} /ServiceName=Grid Service  \r\n",
       HostParams{"{X}", "Grid Service"}},
      // A script's own arguments of the same form come before the host's.
      {"client.exe /ServiceID={OLD} /ServiceName=Old /ServiceID={NEW} /ServiceName=New",
       HostParams{"{NEW}", "New"}},
      {"client.exe /ServiceID= /ServiceName=GridSvc", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseHostParams(c.text), c.expected) << c.text;
}

TEST(HostParamsTest, CommandLineWinsAndTheEnvironmentIsTheFallback) {
  const std::string environment = " /ServiceID={ENV} /ServiceName=FromEnv";
  EXPECT_EQ(FindHostParams("client.exe /ServiceID={CMD} /ServiceName=FromCmd", environment),
            (HostParams{"{CMD}", "FromCmd"}));
  EXPECT_EQ(FindHostParams("cscript.exe client.vbs", environment),
            (HostParams{"{ENV}", "FromEnv"}));
  EXPECT_EQ(FindHostParams("cscript.exe client.vbs", std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace keldran::gridutil
