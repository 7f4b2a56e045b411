#pragma once
// A configured host ready to run its client on the fake platform: the client program exists
// (it runs until killed unless a test says otherwise), the module is configured as the
// configuration load would leave it, and the CService object is a fake COM object.

#include <string>

#include "control/service_calls.h"
#include "platform/fake/fake_platform.h"
#include "support/module_fixture.h"

namespace keldran::testing {

class RunFixture : public ModuleFixture {
 protected:
  static constexpr const char* kClient = "C:\\Grid\\client.exe";
  static constexpr const char* kServiceId = "{11111111-2222-3333-4444-555555555555}";
  static constexpr WindowHandle kClientWindow = 0x4242;

  RunFixture() : calls(module) {
    host.SetModulePaths();
    fake.files.AddDirectory("C:\\Grid");
    fake.processes.AddProgram(kClient, fake::FakeProgram{});
    fake.windowing.AddForeignWindow(kClientWindow);
    module.ServiceComp = "Grid";
    module.ServiceName = names::kServiceName;
    module.DisplayName = names::kDisplayName;
    module.LogPre = "Grid";
    module.CommandLine = std::string(kClient) + " -w 5";
    module.WorkingDir = "C:\\Grid";
    module.ServiceID = kServiceId;
    module.Timeout = 60;
    module.SetServiceObjectFactory(
        [this](CServiceModule&) { return fake::FakeCom::MakeObject("CService"); });
  }

  // The client program's behaviour from now on.
  void ClientProgram(fake::FakeProgram program) {
    fake.processes.AddProgram(kClient, std::move(program));
  }
  // Starts the client as the run loop does, without the loop.
  void StartClient() {
    module.RunThreadId = fake.windowing.CurrentThreadId();
    module.client().SetWorkingDir(module.WorkingDir);
    module.LaunchClient(false);
  }
  // One watchdog tick a second, for the given number of seconds.
  void Ticks(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      fake.clock.Advance(1000);
      module.WatchdogTick();
    }
  }
  void Connect() {
    std::int32_t thread = 0;
    ASSERT_EQ(calls.Connect(static_cast<std::uint32_t>(kClientWindow), &thread), kSOk);
  }
  // The codes of the client event message posted to the client's window, in order.
  std::vector<std::uintptr_t> ClientEvents() const {
    std::vector<std::uintptr_t> codes;
    for (const auto& m : fake.windowing.MessagesTo(kClientWindow)) {
      if (m.message == module.ClientEventMessage) codes.push_back(m.wParam);
    }
    return codes;
  }
  std::size_t Count(std::uint32_t eventId) const {
    return fake.eventLog.EventsWithId(eventId).size();
  }
  std::size_t ClientStarts() const { return fake.processes.Children().size(); }
  // Runs the host's whole run loop; the test schedules what happens with fake.clock.At/After.
  void RunHost() { module.Run(); }

  ServiceCalls calls;
};

}  // namespace keldran::testing
