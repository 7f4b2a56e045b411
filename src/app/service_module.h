#pragma once
// CServiceModule: the one module object of the process. It holds the configuration of the
// component, the run flags of the command line, the supervision state of the client and the
// service status, and offers the operations of every subsystem. Each subsystem implements its
// operations in its own folder; this header is where they meet.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/registered_messages.h"
#include "log/log.h"
#include "platform/platform.h"
#include "service/crit_sect.h"

namespace keldran {

class Process;
class CServiceWin;
class CServiceModule;

// Event categories of the message table.
namespace category {
constexpr std::uint16_t kInstall = 1;
constexpr std::uint16_t kConfiguration = 2;
constexpr std::uint16_t kStartup = 3;
constexpr std::uint16_t kRun = 4;
constexpr std::uint16_t kShutdown = 5;
constexpr std::uint16_t kDebug = 6;
constexpr std::uint16_t kParameter = 9;
constexpr std::uint16_t kLoggingFailure = 13;
}  // namespace category

// Fixed names of this build.
namespace names {
constexpr const char* kServiceName = "KeldranGridAgent321";
constexpr const char* kServicePrefix = "KeldranGridAgent";
constexpr const char* kDisplayName = "Keldran Grid Agent 3.21";
constexpr const char* kDescription = "Keldran Grid Agent Service 3.21";
constexpr const char* kIniBaseName = "KeldranGridAgent";
constexpr const char* kAtFormServicePrefix = "KeldranService.";
constexpr const char* kDefaultComponent = "Grid";
constexpr const char* kIniSection = "Service";
constexpr const char* kAppId = "{0E5B7C21-3D94-4A6F-9B1E-7C2D4F8A9051}";
constexpr const char* kLibId = "{5A1F93C4-8E27-4B60-A3D5-19C6E0B7F482}";
constexpr const char* kClsid = "{C83D2E19-6B7A-4F05-8E41-D2A9B3C6F017}";
constexpr const char* kClientParamsVariable = "KeldranService_PDF_PARAMS";
}  // namespace names

// Creates the CService object that the run loop publishes in the running-object table.
using ServiceObjectFactory = std::function<ObjectRef(CServiceModule&)>;

class CServiceModule {
 public:
  static constexpr std::uint32_t kNoHeartbeat = 0xFFFFFFFFu;
  // The exit code every killed client gets (ERROR_TIMEOUT).
  static constexpr std::uint32_t kErrorTimeout = 1460;
  static constexpr std::size_t kPathBuffer = 260;  // paths and INI values: 259 characters

  CServiceModule(Platform& platform, Log& log, Process& client, CServiceWin& window,
                 CritSect& stateLock, const RegisteredMessages& messages);
  virtual ~CServiceModule();
  CServiceModule(const CServiceModule&) = delete;
  CServiceModule& operator=(const CServiceModule&) = delete;

  // ---- Start-up (app/): command line, run modes, configuration --------------------------------
  // The start-up routine: everything from COM initialisation to the dispatch; the result becomes
  // the process exit code.
  HResult Startup(const std::string& commandLine);
  // The exit notice (the pending notice as a message box), shown once by whoever comes first.
  void ShowExitNotice();
  [[nodiscard]] bool LoadServiceConfig(std::uint16_t eventCategory, const std::string& component);
  // Reads the INI file: a key's value (or the default), or with no or an empty key the whole
  // section as NUL-terminated key=value lines; then replaces the macros in the text before the
  // first NUL. *expandedLength receives the length of the fully expanded text. The result never
  // exceeds bufferSize - 1 characters.
  std::string ReadIniValue(const std::string& section, const std::optional<std::string>& key,
                           const std::string& defaultValue, std::size_t bufferSize,
                           std::size_t* expandedLength = nullptr);

  // ---- Logging (log/) -------------------------------------------------------------------------
  // The module forms pass the component's log prefix (LogPre) as tag.
  void logDebug(const std::string& text);
  void logEvent(std::uint16_t type, std::uint16_t category, std::uint32_t id,
                const char* const* strings, int count);
  HResult logError(std::uint16_t category, std::uint32_t id, const char* s1 = nullptr,
                   const char* s2 = nullptr, const char* s3 = nullptr, const char* s4 = nullptr);
  void logWarning(std::uint16_t category, std::uint32_t id, const char* s1 = nullptr,
                  const char* s2 = nullptr);
  void logInfo(std::uint16_t category, std::uint32_t id, const char* s1 = nullptr);
  // A notice for the administrator: a tray balloon, or the pending exit notice.
  void PostNotice(const char* text, std::uint32_t kind);

  // ---- Service control and run loop (service/) -------------------------------------------------
  void StartRun();
  void ServiceMain();
  void Handler(std::uint32_t control);
  void SetServiceState(std::uint32_t state);
  void Run();
  void RequestQuit();
  [[nodiscard]] bool RegisterInRot();
  [[nodiscard]] bool FindRunningHost(std::unique_ptr<IRunningHost>* host);
  // COM module locks: live objects and server locks. The last unlock ends an application run.
  void Lock();
  void Unlock();

  // ---- Client supervision (supervision/) -------------------------------------------------------
  void LaunchClient(bool quitOnFailure);
  [[nodiscard]] bool ApplyCtrlDocAttribute();
  void WatchdogTick();
  // The heartbeat update of Running, Progress and Pause.
  void SetRunningTS(bool running, const WideString* progress, std::uint32_t timeout);

  // ---- Installation and registration (install/) ------------------------------------------------
  void DeleteRegistryKeys();
  // Deletes one key with its subtree; empty on success, else the error description.
  std::string DeleteRegistryKeyTree(RegKey root, const std::string& path);
  HResult RegisterComponent(bool registerTypeLibrary, bool asService);
  HResult UnregisterComponent();

  // ---- Collaborators --------------------------------------------------------------------------
  Platform& platform() { return platform_; }
  Log& log() { return log_; }
  Process& client() { return client_; }
  CServiceWin& window() { return window_; }
  CritSect& stateLock() { return stateLock_; }
  const RegisteredMessages& messages() const { return messages_; }
  void SetServiceObjectFactory(ServiceObjectFactory factory) {
    objectFactory_ = std::move(factory);
  }

  // ---- Module paths ----------------------------------------------------------------------------
  std::string ExePath;  // the executable's full long path
  std::string AppName;  // its file name without extension
  std::string ExeDir;   // its directory, canonicalised, with a trailing backslash

  // ---- Configuration ----------------------------------------------------------------------------
  std::string ServiceComp;
  std::string ServiceName;
  std::string DisplayName;
  std::string Description;
  std::string ServicePath;
  std::string IniFile;
  std::string IniDir;
  std::string WindowsDir;
  std::string CommandLine;
  std::string WorkingDir;
  std::string DataDir;
  std::string LogDir;
  std::string LogPre;
  std::string GSDir;
  std::string CtrlSrc;
  std::string CtrlDoc;
  std::string DeleteRegKeys;
  std::string IconFile;
  std::int32_t AutoStart = 0;
  std::int32_t Show = 0;
  std::int32_t Debug = 0;
  std::int32_t Trace = 0;
  std::int32_t Timeout = 0;
  std::string LogonUser;
  std::string LogonPassword;
  std::string ServiceID;

  // ---- Run flags of the command line
  // -------------------------------------------------------------
  bool Quiet = false;
  bool ServiceSwitch = false;
  bool StartRequested = false;
  bool StopRequested = false;
  bool RegApp = false;
  bool RegServ = false;
  bool UnReg = false;
  bool CommitStep = false;
  bool RemoveStep = false;
  bool RunAsService = false;  // process-wide in spirit: one module per process

  // Settings given on the command line (Debug, Release, Timeout=, Show, Hide, Auto, AutoStart,
  // Manual). They are applied over the INI file's values, in command-line order, when the
  // configuration is loaded: what an administrator types counts.
  struct CommandLineSetting {
    enum class Kind { kDebug, kRelease, kTimeout, kShow, kHide, kAutoStart, kManual };
    Kind kind;
    std::int32_t value = 0;  // the Timeout= value
  };
  std::vector<CommandLineSetting> CommandLineSettings;
  void ApplyCommandLineSettings();

  // ---- Service status
  // ------------------------------------------------------------------------------
  ServiceStatus Status;
  ServiceStatusHandle StatusHandle;
  bool StopEventPending = true;  // the stop event is written once per process
  // The run ended on a reported failure (no client could start, the host could not be
  // published, another host runs). The status record keeps its own exit code for the Service
  // Control Manager; the process still ends with E_FAIL, so that scripts see the failure.
  bool RunFailed = false;

  // ---- Supervision state (shared by the run loop, launch, watchdog and IService) --------------
  std::uint32_t RunThreadId = 0;
  bool ClientRunning = false;
  bool ClientLaunched = false;
  bool TimedOut = false;
  bool ConnectedOnce = false;
  std::uint32_t LastHeartbeat = kNoHeartbeat;
  std::uint32_t HeartbeatTimeout = 0;
  WideString ProgressText;
  bool ProgressStored = false;  // a heartbeat has stored a progress value in this run
  bool Paused = false;
  bool CanDebug = false;
  WindowHandle ClientWindow = 0;
  std::uint32_t ClientEventMessage = 0;
  std::uint32_t RotCookie = 0;
  ObjectRef ServiceObject;
  WideString ToolTipText;
  WideString TimeoutFile;
  int ModuleLocks = 0;

 private:
  static void EventHook(std::uintptr_t context, const char* text, std::uint16_t type);
  void EndClientAndQuit(std::uintptr_t code, std::uint32_t waitMs);
  // The running-host lookup before a registration or unregistration: E_FAIL when the lookup
  // fails or a host runs (reported as the given event), else 0.
  HResult RefuseIfHostRuns(std::uint32_t eventId);

  Platform& platform_;
  Log& log_;
  Process& client_;
  CServiceWin& window_;
  CritSect& stateLock_;
  RegisteredMessages messages_;
  ServiceObjectFactory objectFactory_;
};

}  // namespace keldran
