#pragma once
// The Service Control Manager: the dispatcher, the control handler and status reports of a
// running service, and the service database that installation changes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/scoped.h"
#include "platform/types.h"

namespace keldran {

struct ServiceStatus {
  std::uint32_t serviceType = 0;
  std::uint32_t currentState = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;
  friend bool operator==(const ServiceStatus&, const ServiceStatus&) = default;
};

namespace service_state {
constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kStartPending = 2;
constexpr std::uint32_t kStopPending = 3;
constexpr std::uint32_t kRunning = 4;
constexpr std::uint32_t kPaused = 7;
}  // namespace service_state

namespace service_control {
constexpr std::uint32_t kStop = 1;
constexpr std::uint32_t kPause = 2;
constexpr std::uint32_t kContinue = 3;
constexpr std::uint32_t kInterrogate = 4;
constexpr std::uint32_t kShutdown = 5;
constexpr std::uint32_t kPreshutdown = 0x0F;
}  // namespace service_control

// The controls a running service accepts (SERVICE_ACCEPT_*).
namespace service_accept {
constexpr std::uint32_t kStop = 0x01;
constexpr std::uint32_t kShutdown = 0x04;
constexpr std::uint32_t kPreshutdown = 0x100;
}  // namespace service_accept

namespace service_type {
constexpr std::uint32_t kOwnProcess = 0x10;
constexpr std::uint32_t kInteractive = 0x100;
}  // namespace service_type

namespace service_access {
constexpr std::uint32_t kManagerAll = 0xF003F;
constexpr std::uint32_t kManagerConnect = 0x0001;
constexpr std::uint32_t kQueryConfig = 0x0001;
constexpr std::uint32_t kQueryStatus = 0x0004;
constexpr std::uint32_t kStart = 0x0010;
constexpr std::uint32_t kStop = 0x0020;
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kAll = 0xF01FF;
}  // namespace service_access

struct ServiceStatusHandleTag;
using ServiceStatusHandle = Handle<ServiceStatusHandleTag>;
struct ScHandleTag;
using ScHandle = Handle<ScHandleTag>;

// What CreateService is given.
struct ServiceDefinition {
  std::string name;
  std::string displayName;
  std::uint32_t desiredAccess = service_access::kAll;
  std::uint32_t serviceType = service_type::kOwnProcess;
  std::uint32_t startType = 3;
  std::uint32_t errorControl = 1;
  std::string binaryPath;
  std::vector<std::string> dependencies;
  std::string account;  // empty: LocalSystem
  std::string password;
};

// The failure actions of a service: a restart after each delay in turn (the last one repeats),
// the failure count starting again after the reset period without failures.
struct FailureActions {
  std::uint32_t resetPeriodSeconds = 0;
  std::vector<std::uint32_t> restartDelaysMs;
  friend bool operator==(const FailureActions&, const FailureActions&) = default;
};

struct ServiceConfigView {
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;
  std::string binaryPath;
  std::string displayName;
  std::string account;
};

struct EnumeratedService {
  std::string name;
  std::string displayName;
  ServiceStatus status;
};

using ServiceMainFn = std::function<void()>;
// A control handler answers NO_ERROR (0), or ERROR_CALL_NOT_IMPLEMENTED for a control it does
// not handle; it must return at once.
using ServiceControlFn = std::function<Win32Error(std::uint32_t control)>;

class IServiceManager {
 public:
  virtual ~IServiceManager() = default;

  // StartServiceCtrlDispatcher with one entry; returns when the service has stopped and its
  // service main function has returned, or fails (1063) when the process was not started by the
  // Service Control Manager.
  [[nodiscard]] virtual Win32Error RunDispatcher(const std::string& serviceName,
                                                 ServiceMainFn serviceMain) = 0;
  // RegisterServiceCtrlHandlerEx: the extended handler is the one that hears preshutdown.
  [[nodiscard]] virtual Win32Error RegisterControlHandler(const std::string& serviceName,
                                                          ServiceControlFn handler,
                                                          ServiceStatusHandle* handle) = 0;
  virtual bool SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) = 0;

  // The service database.
  [[nodiscard]] virtual Win32Error OpenManager(std::uint32_t access, ScHandle* manager) = 0;
  [[nodiscard]] virtual Win32Error OpenService(ScHandle manager, const std::string& name,
                                               std::uint32_t access, ScHandle* service) = 0;
  [[nodiscard]] virtual Win32Error CreateService(ScHandle manager, const ServiceDefinition& def,
                                                 ScHandle* service) = 0;
  // ChangeServiceConfig2 with the description level; false when the call is not available.
  virtual bool SetDescription(ScHandle service, const std::string& description) = 0;
  // ChangeServiceConfig2 with the failure actions, the failure-actions flag (a stop with a
  // non-zero exit code counts as a failure), the preshutdown timeout and delayed automatic
  // start levels.
  [[nodiscard]] virtual Win32Error SetFailureActions(ScHandle service,
                                                     const FailureActions& actions) = 0;
  [[nodiscard]] virtual Win32Error SetFailureActionsFlag(ScHandle service,
                                                         bool onNonCrashFailures) = 0;
  [[nodiscard]] virtual Win32Error SetPreshutdownTimeout(ScHandle service,
                                                         std::uint32_t timeoutMs) = 0;
  [[nodiscard]] virtual Win32Error SetDelayedAutoStart(ScHandle service, bool delayed) = 0;
  [[nodiscard]] virtual Win32Error Control(ScHandle service, std::uint32_t control,
                                           ServiceStatus* status) = 0;
  [[nodiscard]] virtual Win32Error Delete(ScHandle service) = 0;
  [[nodiscard]] virtual Win32Error QueryStatus(ScHandle service, ServiceStatus* status) = 0;
  [[nodiscard]] virtual Win32Error QueryConfig(ScHandle service, ServiceConfigView* config) = 0;
  [[nodiscard]] virtual Win32Error StartService(ScHandle service) = 0;
  // Own-process services in any state.
  [[nodiscard]] virtual Win32Error EnumOwnProcessServices(ScHandle manager,
                                                          std::vector<EnumeratedService>* out) = 0;
  virtual void Close(ScHandle handle) = 0;
};

using ScopedScHandle = Scoped<IServiceManager, ScHandle, &IServiceManager::Close>;

}  // namespace keldran
