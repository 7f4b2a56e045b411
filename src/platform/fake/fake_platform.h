#pragma once
// The whole fake backend, ready to hand to the logic as a Platform. Tests reach each area's
// test-side controls through its public member.

#include <string>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_com.h"
#include "platform/fake/fake_dialogs.h"
#include "platform/fake/fake_event_log.h"
#include "platform/fake/fake_file_system.h"
#include "platform/fake/fake_processes.h"
#include "platform/fake/fake_registry.h"
#include "platform/fake/fake_services.h"
#include "platform/fake/fake_shell.h"
#include "platform/fake/fake_sync.h"
#include "platform/fake/fake_system_texts.h"
#include "platform/fake/fake_windowing.h"
#include "platform/fake/fault_plan.h"
#include "platform/platform.h"

namespace keldran::fake {

class FakePlatform {
 public:
  // messageSource: the message-table source whose texts the program's "own" table holds;
  // by default the project's own table. realFiles: when given, the platform hands out that file
  // system instead of the fake's own (Windows tests pass the real one, so that INI files and
  // path functions behave as Windows's own, which the fake does not model).
  explicit FakePlatform(const std::string& messageSource = DefaultMessageSource(),
                        IFileSystem* realFiles = nullptr);
  explicit FakePlatform(IFileSystem* realFiles) : FakePlatform(DefaultMessageSource(), realFiles) {}
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  Platform& platform() { return platform_; }
  static std::string DefaultMessageSource();

  FaultPlan faults;
  FakeClock clock;
  FakeSystemTexts texts;
  FakeFileSystem files;
  FakeRegistry registry;
  FakeProcesses processes;
  FakeSync sync;
  FakeWindowing windowing;
  FakeDialogs dialogs;
  FakeCom com;
  FakeServiceManager services;
  FakeEventLog eventLog;
  FakeShell shell;

 private:
  Platform platform_;
};

}  // namespace keldran::fake
