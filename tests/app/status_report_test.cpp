// /Status as JSON: strings escaped into ASCII, null where there is no value, the fields that
// each kind of answer has, and every field and metric named in the administrator's guide.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "app/status_report.h"
#include "supervision/metrics_file.h"

namespace keldran {
namespace {

StatusReport Running(HostStatus host) {
  StatusReport r;
  r.component = "Grid";
  r.registered = r.hostRunning = true;
  r.host = host;
  return r;
}

HostStatus Healthy() {
  HostStatus h;
  h.clientRunning = true;
  h.processId = 1234;
  h.heartbeatAge = 3;
  return h;
}

TEST(StatusJsonTest, TheClientsTextIsEscapedIntoAscii) {
  const struct {
    std::string progress;
    std::string json;
  } cases[] = {
      {"say \"hi\" \\ now", R"("say \"hi\" \\ now")"},
      {"a\tb\r\nc\x01\x7f", R"("a\tb\r\nc\u0001\u007f")"},
      {"\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80", R"("\u00e9 \u4e2d \ud83d\ude00")"},
      // Bytes that are no UTF-8 (a stray, a cut sequence) become U+FFFD, one each.
      {"\xff\xe4\xb8", R"("\ufffd\ufffd\ufffd")"},
  };
  for (const auto& c : cases) {
    HostStatus host = Healthy();
    host.progress = c.progress;
    const std::string json = StatusJson(Running(host));
    EXPECT_NE(json.find("\"progress\":" + c.json + ","), std::string::npos) << json;
  }
}

TEST(StatusJsonTest, EachAnswerHasItsFieldsAndNullWhereThereIsNoValue) {
  StatusReport notRegistered;
  notRegistered.component = "Lab";
  StatusReport service = Running(Healthy());
  service.service = true;
  service.serviceName = "KeldranGridAgent321";
  service.serviceState = "running";
  service.recoveryDelays = {5, 30};
  service.environmentNames = {"GRID_HOME", "TOKEN"};
  StatusReport silent = Running(Healthy());
  silent.hostError = "Access is denied.";
  silent.host.reset();
  HostStatus ended = Healthy();
  ended.restartIn = 3;
  ended.heartbeatAge.reset();
  ended.lastExitCode = 3221225477u;
  ended.deathRestarts = ended.restarts = 4;
  const struct {
    const char* name;
    StatusReport report;
    std::vector<std::string> fragments;
  } cases[] = {
      {"not registered",
       notRegistered,
       {R"({"component":"Lab","registered":false,"registeredAs":null,"serviceName":null,)",
        R"("recovery":null,"environment":[],"hostRunning":false,"hostError":null,"state":"not registered",)",
        R"("exitCode":1,"clientRunning":null,"clientPid":null,)", "\"lastDump\":null}\r\n"}},
      {"a healthy service",
       service,
       {R"("registeredAs":"service","serviceName":"KeldranGridAgent321","serviceState":"running",)",
        R"("recovery":[5,30],"environment":["GRID_HOME","TOKEN"],)",
        R"("state":"healthy","exitCode":0,"clientRunning":true,)",
        R"("restarts":{"total":0,"death":0,"timeout":0,"client":0},)",
        R"("heartbeatAgeSeconds":3,)"}},
      {"a host that does not answer",
       silent,
       {R"("registeredAs":"application","serviceName":null,"serviceState":null,"recovery":null,)",
        R"("hostError":"Access is denied.","state":"not answering","exitCode":2,)",
        R"("clientRunning":null,)", R"("pings":null,)"}},
      {"a client waiting for its restart",
       Running(ended),
       {R"("state":"restarting","exitCode":2,"clientRunning":true,"clientPid":null,)",
        R"("restarts":{"total":4,"death":4,)", R"("heartbeatAgeSeconds":null,)",
        R"("restartInSeconds":3,"lastExitCode":3221225477,)"}},
  };
  for (const auto& c : cases) {
    const std::string json = StatusJson(c.report);
    EXPECT_EQ(json.find('\n'), json.size() - 1) << c.name << ": one line";
    for (const std::string& fragment : c.fragments)
      EXPECT_NE(json.find(fragment), std::string::npos) << c.name << ": " << fragment << "\n"
                                                        << json;
  }
}

TEST(StatusJsonTest, TheGuideNamesEveryFieldAndEveryMetric) {
  std::ifstream file(KELDRAN_ADMIN_GUIDE);
  ASSERT_TRUE(file) << KELDRAN_ADMIN_GUIDE;
  std::stringstream guide;
  guide << file.rdbuf();
  const std::string text = guide.str();

  HostStatus host = Healthy();
  host.lastExitCode = 0;
  host.startTime = 1700000000;
  std::vector<std::string> names;
  const std::string json = StatusJson(Running(host));
  const std::regex field(R"re("([A-Za-z]+)":)re");
  for (std::sregex_iterator it(json.begin(), json.end(), field), end; it != end; ++it)
    names.push_back((*it)[1].str());
  MetricsSample sample;
  sample.hostUp = true;
  const std::string metrics = MetricsText(sample);
  const std::regex family("# TYPE (\\w+) ");
  for (std::sregex_iterator it(metrics.begin(), metrics.end(), family), end; it != end; ++it)
    names.push_back((*it)[1].str());
  ASSERT_GT(names.size(), 40u);
  // A row of a table each; a member of an object as "object.member".
  for (const std::string& name : names) {
    EXPECT_TRUE(text.find("| `" + name + "` |") != std::string::npos ||
                text.find("." + name + "` |") != std::string::npos)
        << name << " has no row in the guide";
  }
}

}  // namespace
}  // namespace keldran
