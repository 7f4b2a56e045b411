#pragma once
// A whole host on the fake platform, assembled by the same composition root as the program,
// with the CService object a fake COM object.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/host.h"
#include "platform/fake/fake_platform.h"

namespace keldran::testing {

constexpr const char* kServicesKey = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\";

// An event as tests compare it: its type, category and first insertion text.
struct LoggedEvent {
  std::uint16_t type = 0;
  std::uint16_t category = 0;
  std::string text;
  bool operator==(const LoggedEvent&) const = default;
  friend std::ostream& operator<<(std::ostream& os, const LoggedEvent& e) {
    return os << e.type << '/' << e.category << ": " << e.text;
  }
};

// A host with its fake platform, and the set-up that most tests share.
struct FakeHost {
  // realFiles: the file system the host uses instead of the fake's own (see FakePlatform).
  explicit FakeHost(IFileSystem* realFiles = nullptr)
      : fake(realFiles), host(fake.platform(), [this](Host&) { return makeObject(); }) {}
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // The component's registry key as registration leaves it.
  void RegisterComponent(const std::string& component, const std::string& serviceId,
                         std::optional<std::uint32_t> localService = 0) {
    const std::string key = kServicesKey + component;
    fake.registry.PutString(reg_root::kClassesRoot, key, "ServiceID", serviceId);
    if (localService)
      fake.registry.PutDword(reg_root::kClassesRoot, key, "LocalService", *localService);
  }
  std::vector<fake::RecordedEvent> Events(std::uint32_t id) const {
    return fake.eventLog.EventsWithId(id);
  }
  std::size_t Count(std::uint32_t id) const { return Events(id).size(); }
  std::vector<LoggedEvent> Logged(std::uint32_t id) const {
    std::vector<LoggedEvent> out;
    for (const auto& e : fake.eventLog.EventsWithId(id))
      out.push_back({e.type, e.category, e.strings.empty() ? "" : e.strings[0]});
    return out;
  }
  // The first insertion string of each event with the id, in order.
  std::vector<std::string> Insertions(std::uint32_t id) const {
    std::vector<std::string> out;
    for (const auto& e : Logged(id)) out.push_back(e.text);
    return out;
  }

  fake::FakePlatform fake;
  // What the run publishes; a test may put its own object there.
  std::function<ObjectRef()> makeObject = [] {
    return ObjectRef(new int(0), [](void* p) { delete static_cast<int*>(p); });
  };
  Host host;
};

class HostFixture : public ::testing::Test, public FakeHost {
 protected:
  explicit HostFixture(IFileSystem* realFiles = nullptr) : FakeHost(realFiles) {}

  static constexpr const char* kLogDir = "C:\\Logs";

  // The component as its configuration load leaves it, for tests that skip the load.
  void ConfigureGrid() {
    config.ServiceName = "KeldranGridAgent321";
    config.ServiceID = "{11111111-2222-3333-4444-555555555555}";
    config.LogPre = "Grid";
    host.log.setEventSourceName(config.ServiceName);
  }
  // Turns on the day file in kLogDir, so that LogText() sees every record.
  void UseLogFile() {
    fake.files.AddDirectory(kLogDir);
    host.log.setLogDir(kLogDir);
  }
  // Everything written to the log directory's files so far.
  std::string LogText() const {
    std::string text;
    for (const std::string& file : fake.files.List(kLogDir)) {
      if (auto content = fake.files.FileContent(file)) text += *content;
    }
    return text;
  }

  Configuration& config = host.config;
  Supervisor& supervisor = host.supervisor;
  ServiceCalls& calls = host.calls;
};

// A configured host ready to run its client, which runs until killed unless a test says
// otherwise.
class RunFixture : public HostFixture {
 protected:
  static constexpr const char* kClient = "C:\\Grid\\client.exe";
  static constexpr const char* kServiceId = "{11111111-2222-3333-4444-555555555555}";
  static constexpr WindowHandle kClientWindow = 0x4242;

  RunFixture() {
    fake.files.AddDirectory("C:\\Grid");
    fake.processes.AddProgram(kClient, fake::FakeProgram{});
    fake.windowing.AddForeignWindow(kClientWindow);
    config.ServiceName = names::kServiceName;
    config.DisplayName = names::kDisplayName;
    config.LogPre = "Grid";
    config.CommandLine = std::string(kClient) + " -w 5";
    config.WorkingDir = "C:\\Grid";
    config.ServiceID = kServiceId;
    config.Timeout = 60;
    host.log.setEventSourceName(config.ServiceName);
  }

  void ClientProgram(fake::FakeProgram program) {
    fake.processes.AddProgram(kClient, std::move(program));
  }
  // Starts the client as the run loop does, without the loop.
  void StartClient() {
    supervisor.PrepareRun();
    ASSERT_TRUE(supervisor.LaunchClient());
  }
  // One watchdog tick a second, as the run loop's timer makes them.
  void Ticks(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      fake.clock.Advance(1000);
      if (supervisor.WatchdogTick() == TickOutcome::kFailRun)
        host.service.FailRun(supervisor.client().LastResult());
    }
  }
  void Connect() {
    std::int32_t thread = 0;
    ASSERT_EQ(calls.Connect(static_cast<std::uint32_t>(kClientWindow), &thread), kSOk);
  }
  // The codes of the client event message posted to the client's window, in order.
  std::vector<std::uintptr_t> ClientEvents() {
    const std::uint32_t message = fake.windowing.RegisterWindowMessage(kClientEventMessageName);
    std::vector<std::uintptr_t> codes;
    for (const auto& m : fake.windowing.MessagesTo(kClientWindow)) {
      if (m.message == message) codes.push_back(m.wParam);
    }
    return codes;
  }
  std::size_t ClientStarts() const { return fake.processes.Children().size(); }
  // Runs the host's whole run loop; the test schedules what happens with fake.clock.At/After.
  void RunHost() { host.service.Run(); }
};

// Where a whole log line stands in text (a line ends at CR LF or at the end of the file), or npos.
inline std::size_t FindLine(const std::string& text, const std::string& line) {
  for (std::size_t pos = text.find(line); pos != std::string::npos;
       pos = text.find(line, pos + 1)) {
    const std::size_t end = pos + line.size();
    if (end == text.size() || text[end] == '\r') return pos;
  }
  return std::string::npos;
}

// Counts the non-overlapping occurrences of needle in text.
inline std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace keldran::testing
