#include "platform/fake/fake_services.h"

namespace keldran::fake {

FakeServiceManager::FakeServiceManager(FaultPlan& faults, FakeSystemTexts& texts)
    : FakeArea(faults, texts) {}

Win32Error FakeServiceManager::RunDispatcher(const std::string& serviceName,
                                             ServiceMainFn serviceMain) {
  {
    std::lock_guard lock(mutex_);
    if (auto e = Injected("StartServiceCtrlDispatcher")) return *e;
    if (!startedBySCM_) return Fail(win32_error::kFailedServiceControllerConnect);
    dispatched_ = serviceName;
  }
  serviceMain();
  return 0;
}

Win32Error FakeServiceManager::RegisterControlHandler(const std::string&, ServiceControlFn handler,
                                                      ServiceStatusHandle* handle) {
  std::lock_guard lock(mutex_);
  *handle = ServiceStatusHandle{};
  if (auto e = Injected("RegisterServiceCtrlHandler")) return *e;
  handler_ = std::move(handler);
  *handle = ServiceStatusHandle{0x9001};
  return 0;
}

bool FakeServiceManager::SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  std::lock_guard lock(mutex_);
  if (Injected("SetServiceStatus")) return false;
  if (!handle) {
    Fail(win32_error::kInvalidHandle);
    return false;
  }
  reports_.push_back(status);
  return true;
}

Win32Error FakeServiceManager::OpenManager(std::uint32_t, ScHandle* manager) {
  std::lock_guard lock(mutex_);
  *manager = ScHandle{};
  if (auto e = Injected("OpenSCManager")) return *e;
  *manager = ScHandle{nextHandle_};
  handles_[nextHandle_] = Handle{};
  nextHandle_ += 4;
  return 0;
}

FakeServiceManager::Entry* FakeServiceManager::Lookup(ScHandle service) {
  auto h = handles_.find(service.value);
  if (h == handles_.end() || h->second.service.empty()) return nullptr;
  auto it = services_.find(h->second.service);
  return it == services_.end() ? nullptr : &it->second;
}

Win32Error FakeServiceManager::OpenService(ScHandle manager, const std::string& name, std::uint32_t,
                                           ScHandle* service) {
  std::lock_guard lock(mutex_);
  *service = ScHandle{};
  if (auto e = Injected("OpenService")) return *e;
  if (!handles_.count(manager.value)) return Fail(win32_error::kInvalidHandle);
  auto it = services_.find(FoldCase(name));
  if (it == services_.end()) return Fail(win32_error::kServiceDoesNotExist);
  ++it->second.openHandles;
  *service = ScHandle{nextHandle_};
  handles_[nextHandle_] = Handle{it->first};
  nextHandle_ += 4;
  return 0;
}

Win32Error FakeServiceManager::CreateService(ScHandle manager, const ServiceDefinition& def,
                                             ScHandle* service) {
  std::lock_guard lock(mutex_);
  *service = ScHandle{};
  if (auto e = Injected("CreateService")) return *e;
  if (!handles_.count(manager.value)) return Fail(win32_error::kInvalidHandle);
  auto it = services_.find(FoldCase(def.name));
  if (it != services_.end()) {
    return Fail(it->second.markedForDelete ? win32_error::kServiceMarkedForDelete
                                           : win32_error::kServiceExists);
  }
  Entry entry;
  entry.definition = def;
  entry.status.serviceType = def.serviceType;
  entry.status.currentState = service_state::kStopped;
  entry.openHandles = 1;
  services_[FoldCase(def.name)] = entry;
  *service = ScHandle{nextHandle_};
  handles_[nextHandle_] = Handle{FoldCase(def.name)};
  nextHandle_ += 4;
  return 0;
}

bool FakeServiceManager::SetDescription(ScHandle service, const std::string& description) {
  std::lock_guard lock(mutex_);
  Entry* entry = Lookup(service);
  if (!entry) return false;
  entry->description = description;
  return true;
}

Win32Error FakeServiceManager::Control(ScHandle service, std::uint32_t control,
                                       ServiceStatus* status) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("ControlService")) return *e;
  Entry* entry = Lookup(service);
  if (!entry) return Fail(win32_error::kInvalidHandle);
  if (control == service_control::kStop) {
    if (entry->status.currentState == service_state::kStopped)
      return Fail(win32_error::kServiceNotActive);
    entry->status.currentState = service_state::kStopped;
  }
  if (status) *status = entry->status;
  return 0;
}

Win32Error FakeServiceManager::Delete(ScHandle service) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("DeleteService")) return *e;
  Entry* entry = Lookup(service);
  if (!entry) return Fail(win32_error::kInvalidHandle);
  if (entry->markedForDelete) return Fail(win32_error::kServiceMarkedForDelete);
  entry->markedForDelete = true;
  return 0;
}

Win32Error FakeServiceManager::QueryStatus(ScHandle service, ServiceStatus* status) {
  std::lock_guard lock(mutex_);
  Entry* entry = Lookup(service);
  if (!entry) return Fail(win32_error::kInvalidHandle);
  *status = entry->status;
  return 0;
}

Win32Error FakeServiceManager::QueryConfig(ScHandle service, ServiceConfigView* config) {
  std::lock_guard lock(mutex_);
  Entry* entry = Lookup(service);
  if (!entry) return Fail(win32_error::kInvalidHandle);
  config->serviceType = entry->definition.serviceType;
  config->startType = entry->definition.startType;
  config->binaryPath = entry->definition.binaryPath;
  config->displayName = entry->definition.displayName;
  config->account = entry->definition.account.empty() ? "LocalSystem" : entry->definition.account;
  return 0;
}

Win32Error FakeServiceManager::StartService(ScHandle service) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected("StartService")) return *e;
  Entry* entry = Lookup(service);
  if (!entry) return Fail(win32_error::kInvalidHandle);
  if (entry->markedForDelete) return Fail(win32_error::kServiceMarkedForDelete);
  if (entry->status.currentState != service_state::kStopped) return Fail(1056);
  entry->status.currentState = service_state::kRunning;
  return 0;
}

Win32Error FakeServiceManager::EnumOwnProcessServices(ScHandle manager,
                                                      std::vector<EnumeratedService>* out) {
  std::lock_guard lock(mutex_);
  out->clear();
  if (auto e = Injected("EnumServicesStatusEx")) return *e;
  if (!handles_.count(manager.value)) return Fail(win32_error::kInvalidHandle);
  for (const auto& [_, entry] : services_) {
    if (entry.definition.serviceType & service_type::kOwnProcess)
      out->push_back(
          EnumeratedService{entry.definition.name, entry.definition.displayName, entry.status});
  }
  return 0;
}

void FakeServiceManager::DropIfDeleted(const std::string& name) {
  auto it = services_.find(name);
  if (it != services_.end() && it->second.markedForDelete && it->second.openHandles == 0 &&
      it->second.status.currentState == service_state::kStopped) {
    services_.erase(it);
  }
}

void FakeServiceManager::Close(ScHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle.value);
  if (it == handles_.end()) return;
  const std::string name = it->second.service;
  handles_.erase(it);
  if (name.empty()) return;
  auto entry = services_.find(name);
  if (entry != services_.end()) --entry->second.openHandles;
  DropIfDeleted(name);
}

void FakeServiceManager::SetStartedByServiceManager(bool started) {
  std::lock_guard lock(mutex_);
  startedBySCM_ = started;
}

void FakeServiceManager::SendControl(std::uint32_t control) {
  ServiceControlFn handler;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
  }
  if (handler) handler(control);
}

bool FakeServiceManager::HandlerRegistered() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(handler_);
}

std::string FakeServiceManager::DispatchedServiceName() const {
  std::lock_guard lock(mutex_);
  return dispatched_;
}

std::vector<ServiceStatus> FakeServiceManager::StatusReports() const {
  std::lock_guard lock(mutex_);
  return reports_;
}

void FakeServiceManager::AddService(const ServiceDefinition& def, std::uint32_t state) {
  std::lock_guard lock(mutex_);
  Entry entry;
  entry.definition = def;
  entry.status.serviceType = def.serviceType;
  entry.status.currentState = state;
  services_[FoldCase(def.name)] = entry;
}

std::optional<FakeServiceManager::Entry> FakeServiceManager::Service(
    const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = services_.find(FoldCase(name));
  if (it == services_.end()) return std::nullopt;
  return it->second;
}

std::size_t FakeServiceManager::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

}  // namespace keldran::fake
