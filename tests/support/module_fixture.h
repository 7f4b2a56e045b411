#pragma once
// A whole host on the fake platform: the fake backend, the log, the client's Process, the state
// lock, the service window and the module, wired as the program's entry point wires them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/service_module.h"
#include "platform/fake/fake_platform.h"
#include "supervision/process.h"
#include "tray/service_win.h"

namespace keldran::testing {

constexpr const char* kExeDir = "C:\\Program Files\\Keldran\\";
constexpr const char* kExePath = "C:\\Program Files\\Keldran\\KeldranGridAgent.exe";
constexpr const char* kIniPath = "C:\\Program Files\\Keldran\\KeldranGridAgent.INI";
constexpr const char* kServicesKey = "AppID\\{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}\\Services\\";

struct FakeHost {
  FakeHost()
      : log(fake.platform()),
        messages(RegisteredMessages::Register(fake.platform().windowing)),
        stateLock(fake.platform().sync),
        client(fake.platform()),
        window(fake.platform(), messages),
        module(fake.platform(), log, client, window, stateLock, messages) {}
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // The host's INI file beside the executable.
  void WriteIni(const std::string& text, const std::string& path = kIniPath) {
    fake.files.AddFile(path, text);
  }
  // The component's registry key as registration leaves it.
  void RegisterComponent(const std::string& component, const std::string& serviceId,
                         std::optional<std::uint32_t> localService = 0) {
    const std::string key = kServicesKey + component;
    fake.registry.PutString(reg_root::kClassesRoot, key, "ServiceID", serviceId);
    if (localService)
      fake.registry.PutDword(reg_root::kClassesRoot, key, "LocalService", *localService);
  }
  // The module paths as the start-up routine sets them, for tests that skip it.
  void SetModulePaths() {
    module.ExePath = kExePath;
    module.AppName = "KeldranGridAgent";
    module.ExeDir = kExeDir;
  }
  // The insertion strings of the events with the id, in order.
  std::vector<std::string> Insertions(std::uint32_t id) const {
    std::vector<std::string> out;
    for (const auto& e : fake.eventLog.EventsWithId(id))
      out.push_back(e.strings.empty() ? "" : e.strings[0]);
    return out;
  }

  fake::FakePlatform fake;
  Log log;
  RegisteredMessages messages;
  CritSect stateLock;
  Process client;
  CServiceWin window;
  CServiceModule module;
};

class ModuleFixture : public ::testing::Test {
 protected:
  FakeHost host;
  fake::FakePlatform& fake = host.fake;
  CServiceModule& module = host.module;
};

}  // namespace keldran::testing
