#pragma once
// A whole host on the fake platform: the fake backend, the log, the client's Process, the state
// lock, the service window and the module, wired as the program's entry point wires them.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/service_module.h"
#include "platform/fake/fake_platform.h"
#include "supervision/process.h"
#include "tray/service_win.h"

namespace keldran::testing {

class ModuleFixture : public ::testing::Test {
 protected:
  static constexpr const char* kExeDir = "C:\\Program Files\\Keldran\\";
  static constexpr const char* kIniPath = "C:\\Program Files\\Keldran\\KeldranGridAgent.INI";

  ModuleFixture()
      : log(fake.platform()),
        messages(RegisteredMessages::Register(fake.platform().windowing)),
        stateLock(fake.platform().sync),
        client(fake.platform()),
        window(fake.platform(), messages),
        module(fake.platform(), log, client, window, stateLock, messages) {}

  // Writes the host's INI file beside the executable.
  void WriteIni(const std::string& text, const std::string& path = kIniPath) {
    fake.files.AddFile(path, text);
  }
  // Registers the component as registration would leave it.
  void RegisterComponent(const std::string& component, const std::string& serviceId,
                         std::optional<std::uint32_t> localService = 0) {
    const std::string key = std::string("AppID\\") + names::kAppId + "\\Services\\" + component;
    fake.registry.PutString(reg_root::kClassesRoot, key, "ServiceID", serviceId);
    if (localService) fake.registry.PutDword(reg_root::kClassesRoot, key, "LocalService", *localService);
  }
  // The module paths as the start-up routine sets them, for tests that skip it.
  void SetModulePaths() {
    module.ExePath = std::string(kExeDir) + "KeldranGridAgent.exe";
    module.AppName = "KeldranGridAgent";
    module.ExeDir = kExeDir;
  }

  // Events recorded so far, as "id:type:category:insertion".
  std::vector<std::string> EventSummaries() const {
    std::vector<std::string> out;
    for (const auto& e : fake.eventLog.Events()) {
      out.push_back(std::to_string(e.id) + ":" + std::to_string(e.type) + ":" +
                    std::to_string(e.category) + ":" + (e.strings.empty() ? "" : e.strings[0]));
    }
    return out;
  }
  std::vector<std::string> EventInsertions(std::uint32_t id) const {
    std::vector<std::string> out;
    for (const auto& e : fake.eventLog.EventsWithId(id)) out.push_back(e.strings.empty() ? "" : e.strings[0]);
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

}  // namespace keldran::testing
