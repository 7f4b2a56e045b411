#pragma once
// The Service Control Manager: a service database whose services never run, and a dispatcher
// that runs the service main function at once if the test says the SCM started the process
// (else 1063). The test sends control codes to the registered handler.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake_support.h"
#include "platform/services.h"

namespace keldran::fake {

class FakeServiceManager final : public IServiceManager, private FakeArea {
 public:
  FakeServiceManager(FaultPlan& faults, FakeSystemTexts& texts) : FakeArea(faults, texts) {}

  Win32Error RunDispatcher(const std::string& serviceName, ServiceMainFn serviceMain) override;
  Win32Error RegisterControlHandler(const std::string& serviceName, ServiceControlFn handler,
                                    ServiceStatusHandle* handle) override;
  bool SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) override;
  Win32Error OpenManager(std::uint32_t access, ScHandle* manager) override;
  Win32Error OpenService(ScHandle manager, const std::string& name, std::uint32_t access,
                         ScHandle* service) override;
  Win32Error CreateService(ScHandle manager, const ServiceDefinition& def,
                           ScHandle* service) override;
  bool SetDescription(ScHandle service, const std::string& description) override;
  Win32Error SetFailureActions(ScHandle service, const FailureActions& actions) override;
  Win32Error SetFailureActionsFlag(ScHandle service, bool onNonCrashFailures) override;
  Win32Error SetPreshutdownTimeout(ScHandle service, std::uint32_t timeoutMs) override;
  Win32Error SetDelayedAutoStart(ScHandle service, bool delayed) override;
  Win32Error Control(ScHandle service, std::uint32_t control, ServiceStatus* status) override;
  Win32Error Delete(ScHandle service) override;
  Win32Error QueryStatus(ScHandle, ServiceStatus*) override { NotModelled("QueryServiceStatus"); }
  Win32Error QueryConfig(ScHandle, ServiceConfigView*) override {
    NotModelled("QueryServiceConfig");
  }
  Win32Error StartService(ScHandle) override { NotModelled("StartService"); }
  Win32Error EnumOwnProcessServices(ScHandle manager, std::vector<EnumeratedService>* out) override;
  void Close(ScHandle handle) override;

  // Test side.
  void SetStartedByServiceManager(bool started) {
    std::lock_guard lock(mutex_);
    startedBySCM_ = started;
  }
  // Delivers a control code to the registered handler (on the calling thread); its answer.
  Win32Error SendControl(std::uint32_t control);
  std::string DispatchedServiceName() const { return Locked(mutex_, dispatched_); }
  // Every SetServiceStatus report, in order.
  std::vector<ServiceStatus> StatusReports() const { return Locked(mutex_, reports_); }

  struct Entry {
    ServiceDefinition definition;
    std::string description;
    // The ChangeServiceConfig2 levels as a new service has them until they are set.
    FailureActions failureActions;
    bool failureActionsOnNonCrash = false;
    std::uint32_t preshutdownTimeoutMs = 0;
    bool delayedAutoStart = false;
    ServiceStatus status;
    bool markedForDelete = false;
    int openHandles = 0;
  };
  std::optional<Entry> Service(const std::string& name) const;
  std::size_t OpenHandleCount() const {
    std::lock_guard lock(mutex_);
    return handles_.size();
  }

 private:
  Entry* Lookup(ScHandle service);
  // Each level fails as injected under "ChangeServiceConfig2 <level>".
  template <class Change>
  Win32Error ChangeConfig2(ScHandle service, const char* level, Change change);
  ScHandle NewScHandle(const std::string& service);

  mutable std::recursive_mutex mutex_;
  bool startedBySCM_ = false;
  std::string dispatched_;
  ServiceControlFn handler_;
  std::vector<ServiceStatus> reports_;
  std::map<std::string, Entry> services_;          // by folded name
  std::map<std::uintptr_t, std::string> handles_;  // the service's folded name; empty: manager
};

}  // namespace keldran::fake
