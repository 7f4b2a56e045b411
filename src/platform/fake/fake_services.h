#pragma once
// The Service Control Manager for the fake backend: a service database with handles and
// deletion on last close, and a dispatcher that runs the service main function at once when the
// test says the process was started as a service (otherwise it fails with 1063, as outside the
// SCM). Control codes reach the registered handler when the test sends them.

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
  FakeServiceManager(FaultPlan& faults, FakeSystemTexts& texts);

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
  Win32Error Control(ScHandle service, std::uint32_t control, ServiceStatus* status) override;
  Win32Error Delete(ScHandle service) override;
  Win32Error QueryStatus(ScHandle service, ServiceStatus* status) override;
  Win32Error QueryConfig(ScHandle service, ServiceConfigView* config) override;
  Win32Error StartService(ScHandle service) override;
  Win32Error EnumOwnProcessServices(ScHandle manager, std::vector<EnumeratedService>* out) override;
  void Close(ScHandle handle) override;

  // Test side.
  void SetStartedByServiceManager(bool started);
  // Delivers a control code to the registered handler (on the calling thread).
  void SendControl(std::uint32_t control);
  bool HandlerRegistered() const;
  std::string DispatchedServiceName() const;
  // Every SetServiceStatus report, in order.
  std::vector<ServiceStatus> StatusReports() const;

  struct Entry {
    ServiceDefinition definition;
    std::string description;
    ServiceStatus status;
    bool markedForDelete = false;
    int openHandles = 0;
  };
  void AddService(const ServiceDefinition& def, std::uint32_t state = service_state::kStopped);
  std::optional<Entry> Service(const std::string& name) const;
  std::size_t OpenHandleCount() const;

 private:
  struct Handle {
    std::string service;  // empty for the manager
  };
  Entry* Lookup(ScHandle service);
  void DropIfDeleted(const std::string& name);

  mutable std::recursive_mutex mutex_;
  bool startedBySCM_ = false;
  std::string dispatched_;
  ServiceControlFn handler_;
  std::vector<ServiceStatus> reports_;
  std::map<std::string, Entry> services_;  // by folded name
  std::map<std::uintptr_t, Handle> handles_;
  std::uintptr_t nextHandle_ = 0x7000;
};

}  // namespace keldran::fake
