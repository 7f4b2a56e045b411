#pragma once
// The composition root: every component of the host, built in the order the rest of the program
// relies on and handed to each other. The program's entry point builds one on the Win32
// platform; the tests build one on the fake.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/service_config.h"
#include "control/service_calls.h"
#include "install/registry_key_deletion.h"
#include "log/component_log.h"
#include "log/log.h"
#include "platform/platform.h"
#include "service/service_host.h"
#include "supervision/metrics_file.h"
#include "supervision/supervisor.h"
#include "tray/registered_messages.h"
#include "tray/service_win.h"

namespace keldran {

// What the start-up routine found of the component's registration.
struct ComponentRegistration {
  bool keyFound = false;  // the component's key exists
  bool idFound = false;   // with a usable ServiceID
  bool service = false;   // LocalService is 1: it runs as the Windows service
};

class IniSettingsEdit;

class Host {
 public:
  // Exit codes of /Status and /Check, for monitoring scripts.
  static constexpr HResult kStatusNotRunning = 1;  // not registered, or no host runs
  static constexpr HResult kStatusUnhealthy = 2;   // a host runs, its client is not well
  static constexpr HResult kCheckFoundProblems = 1;

  // Creates the CService object that the run publishes, given the assembled host.
  using ObjectMaker = std::function<ObjectRef(Host&)>;

  Host(Platform& platform, ObjectMaker makeObject);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The start-up routine: everything from COM initialisation to the dispatch into registration,
  // unregistration or the run. The result becomes the process exit code.
  HResult Startup(const std::string& commandLine);
  // The exit notice (the pending notice as a message box), shown once by whoever comes first.
  void ShowExitNotice() { window.tray().ShowPendingNotice(); }

  Platform& platform;
  Log log;  // the log lock and the global log mutex come first
  Configuration config;
  RunFlags flags;
  ComponentLog events;
  RegisteredMessages messages;
  RegistryKeyDeletion keyDeletion;
  CServiceWin window;  // its tray icon keeps a reference to the supervisor, built next
  Supervisor supervisor;
  MetricsFile metrics;
  IniReader ini;
  ServiceHost service;
  ServiceCalls calls;

 private:
  // The steps of the start-up routine.
  HResult RejectCommandLine(const std::string& text);
  HResult InitializeCom();
  void FillModulePaths();
  // The component's key: its ServiceID and whether it runs as the service. None when a start
  // that needs it finds none (reported).
  std::optional<ComponentRegistration> ReadRegistration();
  HResult Register(IniSettingsEdit* iniEdit);
  HResult Unregister();
  // The commit also writes the installer's values into the working INI file through edit.
  std::optional<HResult> RunInstallerCompanionSteps(const std::string& component,
                                                    const std::vector<IniSetting>& values,
                                                    IniSettingsEdit* edit);
  // The installer steps around registration (installer_steps.cpp): the values the commit wrote,
  // checked as /Check checks them; a running host stopped before the registration changes; the
  // service started once the commit is done.
  [[nodiscard]] bool CheckInstallerValues();
  [[nodiscard]] bool StopForInstallerStep(std::uint32_t eventId, bool* ran);
  void NoteStoppedByRemoval();
  [[nodiscard]] bool StartAfterCommit(bool stoppedByCommit);
  std::string StoppedByRemovalMarker() const;
  // The administrator's console commands.
  HResult ReportStatus(const ComponentRegistration& registration);
  HResult CheckConfiguration();
  // What /Check finds, each "Key: why".
  std::vector<std::string> ConfigurationProblems();
  void Print(const std::string& text);
  // E_FAIL when the running-host lookup fails or a host runs (reported as the given event).
  HResult RefuseIfHostRuns(std::uint32_t eventId);

  // What /Check's configuration load listed instead of refusing.
  std::vector<std::string> loadProblems_;
  // The values the commit wrote; whether it had values that an existing file kept out.
  std::vector<IniSetting> installerValues_;
  bool installerValuesKeptOut_ = false;
};

}  // namespace keldran
