// The metrics file: its text as a table over status values, and the run that keeps it current
// (at each change, at the interval, down at the end) and survives a folder that is not there.
#include "support/host_fixture.h"

namespace keldran {
namespace {

TEST(MetricsTextTest, EverySeriesIsLabelledAndAbsentValuesHaveNoSample) {
  MetricsSample up;
  up.component = "Grid";
  up.hostUp = true;
  up.client.startTime = 1709283600;
  up.client.heartbeatAgeMs = 12345;
  up.client.deathRestarts = 2;
  up.client.clientRestarts = 1;
  up.client.lastExitCode = 3221225477u;
  up.recordsDropped = 7;
  MetricsSample down = up;
  down.hostUp = false;
  down.component = "Lab \\ \"x\"";
  MetricsSample fresh;
  fresh.component = "Grid";
  fresh.hostUp = true;
  const struct {
    const char* name;
    MetricsSample sample;
    std::vector<std::string> lines;
    std::vector<std::string> absent;
  } cases[] = {
      {"running",
       up,
       {"keldran_host_up{component=\"Grid\"} 1", "keldran_client_running{component=\"Grid\"} 1",
        "keldran_client_restarts_total{component=\"Grid\",reason=\"death\"} 2",
        "keldran_client_restarts_total{component=\"Grid\",reason=\"timeout\"} 0",
        "keldran_client_restarts_total{component=\"Grid\",reason=\"client\"} 1",
        "keldran_client_heartbeat_age_seconds{component=\"Grid\"} 12.345",
        "keldran_client_start_time_seconds{component=\"Grid\"} 1709283600",
        "keldran_client_last_exit_code{component=\"Grid\"} 3221225477",
        "keldran_log_records_dropped_total{component=\"Grid\"} 7",
        "keldran_build_info{component=\"Grid\",version=\"3.21\"} 1"},
       {}},
      {"down, the component's name escaped",
       down,
       {R"(keldran_host_up{component="Lab \\ \"x\""} 0)",
        R"(keldran_client_running{component="Lab \\ \"x\""} 0)",
        R"(keldran_client_last_exit_code{component="Lab \\ \"x\""} 3221225477)"},
       {"keldran_client_heartbeat_age_seconds{", "keldran_client_start_time_seconds{"}},
      {"no client has ended or sent a heartbeat",
       fresh,
       {"keldran_client_running{component=\"Grid\"} 0"},
       {"keldran_client_heartbeat_age_seconds{", "keldran_client_last_exit_code{"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = MetricsText(c.sample);
    for (const std::string& line : c.lines)
      EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
    for (const std::string& start : c.absent)
      EXPECT_EQ(text.find(start), std::string::npos) << start;
  }
}

class MetricsFileTest : public testing::RunFixture {
 protected:
  static constexpr const char* kFile = "C:\\Metrics\\keldran.prom";
  MetricsFileTest() {
    config.ServiceComp = "Grid";
    config.MetricsFile = kFile;
  }
  std::string Content() const { return fake.files.FileContent(kFile).value_or("(none)"); }
  // The writes so far: each opens the temporary file.
  std::size_t Writes() const {
    std::size_t n = 0;
    for (const auto& open : fake.files.Opens()) n += open.path == std::string(kFile) + ".tmp";
    return n;
  }
};

TEST_F(MetricsFileTest, TheRunWritesAtEachChangeAndEachIntervalAndEndsWithTheHostDown) {
  fake.files.AddDirectory("C:\\Metrics");
  std::vector<std::pair<std::size_t, std::string>> seen;
  auto look = [&] { seen.emplace_back(Writes(), Content()); };
  fake.clock.After(1500, look);   // the start, seen by the first tick
  fake.clock.After(15500, look);  // nothing changed and the interval has not passed
  fake.clock.After(16500, look);  // the interval has
  fake.clock.After(17000,
                   [&] { fake.processes.ExitChild(fake.processes.LastChild()->processId, 3); });
  fake.clock.After(18500, look);  // the death, seen by the next tick
  fake.clock.After(20000, [&] { ASSERT_EQ(calls.Stop(), kSOk); });
  RunHost();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ((std::vector<std::size_t>{seen[0].first, seen[1].first, seen[2].first, seen[3].first}),
            (std::vector<std::size_t>{1, 1, 2, 3}));
  EXPECT_NE(seen[0].second.find("keldran_client_running{component=\"Grid\"} 1\n"),
            std::string::npos);
  EXPECT_NE(seen[3].second.find("reason=\"death\"} 1\n"), std::string::npos) << seen[3].second;
  EXPECT_NE(Content().find("keldran_host_up{component=\"Grid\"} 0\n"), std::string::npos)
      << Content();
  EXPECT_FALSE(fake.files.Exists(std::string(kFile) + ".tmp"));
}

TEST_F(MetricsFileTest, AFileThatCannotBeWrittenIsReportedAtTheThirdFailureOnceAndTheRunGoesOn) {
  StartClient();
  auto ticks = [&](int n) {
    for (int i = 0; i < n; ++i) {
      fake.clock.Advance(1000);
      host.metrics.Tick();
    }
  };
  ticks(2);
  EXPECT_EQ(Count(1001), 0u) << "a reader may hold the file for a moment";
  ticks(1);
  ASSERT_EQ(Count(1001), 1u);
  EXPECT_EQ(Insertions(1001)[0].rfind("The metrics file C:\\Metrics\\keldran.prom cannot be "
                                      "written; the host runs on without it\r\n\r\n Error: 3 ",
                                      0),
            0u)
      << Insertions(1001)[0];
  ticks(19);
  EXPECT_EQ(Writes(), 22u) << "tried again at every tick";
  fake.files.AddDirectory("C:\\Metrics");
  ticks(1);
  EXPECT_NE(Content().find("keldran_host_up{component=\"Grid\"} 1\n"), std::string::npos);
  EXPECT_EQ(Count(1001), 1u);
}

}  // namespace
}  // namespace keldran
