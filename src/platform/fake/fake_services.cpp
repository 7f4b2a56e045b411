#include "platform/fake/fake_services.h"

namespace keldran::fake {

Win32Error FakeServiceManager::RunDispatcher(const std::string& serviceName,
                                             ServiceMainFn serviceMain) {
  {
    std::lock_guard lock(mutex_);
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
  handler_ = std::move(handler);
  *handle = ServiceStatusHandle{0x9001};
  return 0;
}

bool FakeServiceManager::SetStatus(ServiceStatusHandle, const ServiceStatus& status) {
  std::lock_guard lock(mutex_);
  reports_.push_back(status);
  return true;
}

ScHandle FakeServiceManager::NewScHandle(const std::string& service) {
  const ScHandle handle{NewHandle()};
  handles_[handle.value] = service;
  if (!service.empty()) ++services_[service].openHandles;
  return handle;
}

Win32Error FakeServiceManager::OpenManager(std::uint32_t, ScHandle* manager) {
  std::lock_guard lock(mutex_);
  *manager = ScHandle{};
  if (auto e = Injected("OpenSCManager")) return *e;
  *manager = NewScHandle("");
  return 0;
}

FakeServiceManager::Entry* FakeServiceManager::Lookup(ScHandle service) {
  auto h = handles_.find(service.value);
  if (h == handles_.end() || h->second.empty()) return nullptr;
  auto it = services_.find(h->second);
  return it == services_.end() ? nullptr : &it->second;
}

Win32Error FakeServiceManager::OpenService(ScHandle manager, const std::string& name, std::uint32_t,
                                           ScHandle* service) {
  std::lock_guard lock(mutex_);
  *service = ScHandle{};
  if (auto e = Injected("OpenService")) return *e;
  if (!handles_.count(manager.value)) return Fail(win32_error::kInvalidHandle);
  if (!services_.count(FoldCase(name))) return Fail(win32_error::kServiceDoesNotExist);
  *service = NewScHandle(FoldCase(name));
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
  Entry& entry = services_[FoldCase(def.name)];
  entry.definition = def;
  entry.status.serviceType = def.serviceType;
  entry.status.currentState = service_state::kStopped;
  *service = NewScHandle(FoldCase(def.name));
  return 0;
}

bool FakeServiceManager::SetDescription(ScHandle service, const std::string& description) {
  std::lock_guard lock(mutex_);
  Entry* entry = Lookup(service);
  if (!entry) return false;
  entry->description = description;
  return true;
}

template <class Change>
Win32Error FakeServiceManager::ChangeConfig2(ScHandle service, const char* level, Change change) {
  std::lock_guard lock(mutex_);
  if (auto e = Injected(std::string("ChangeServiceConfig2 ") + level)) return *e;
  Entry* entry = Lookup(service);
  if (!entry) return Fail(win32_error::kInvalidHandle);
  change(*entry);
  return 0;
}

Win32Error FakeServiceManager::SetFailureActions(ScHandle service, const FailureActions& actions) {
  return ChangeConfig2(service, "FailureActions", [&](Entry& e) { e.failureActions = actions; });
}

Win32Error FakeServiceManager::SetFailureActionsFlag(ScHandle service, bool onNonCrashFailures) {
  return ChangeConfig2(service, "FailureActionsFlag",
                       [&](Entry& e) { e.failureActionsOnNonCrash = onNonCrashFailures; });
}

Win32Error FakeServiceManager::SetPreshutdownTimeout(ScHandle service, std::uint32_t timeoutMs) {
  return ChangeConfig2(service, "PreshutdownInfo",
                       [&](Entry& e) { e.preshutdownTimeoutMs = timeoutMs; });
}

Win32Error FakeServiceManager::SetDelayedAutoStart(ScHandle service, bool delayed) {
  return ChangeConfig2(service, "DelayedAutoStartInfo",
                       [&](Entry& e) { e.delayedAutoStart = delayed; });
}

Win32Error FakeServiceManager::Control(ScHandle service, std::uint32_t, ServiceStatus*) {
  std::lock_guard lock(mutex_);
  if (!Lookup(service)) return Fail(win32_error::kInvalidHandle);
  return Fail(win32_error::kServiceNotActive);  // no service runs
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

Win32Error FakeServiceManager::EnumOwnProcessServices(ScHandle manager,
                                                      std::vector<EnumeratedService>* out) {
  std::lock_guard lock(mutex_);
  out->clear();
  if (!handles_.count(manager.value)) return Fail(win32_error::kInvalidHandle);
  for (const auto& [_, entry] : services_) {
    if (entry.definition.serviceType & service_type::kOwnProcess)
      out->push_back(
          EnumeratedService{entry.definition.name, entry.definition.displayName, entry.status});
  }
  return 0;
}

void FakeServiceManager::Close(ScHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle.value);
  if (it == handles_.end()) return;
  auto entry = it->second.empty() ? services_.end() : services_.find(it->second);
  handles_.erase(it);
  // A service marked for deletion goes with its last handle.
  if (entry != services_.end() && --entry->second.openHandles == 0 && entry->second.markedForDelete)
    services_.erase(entry);
}

Win32Error FakeServiceManager::SendControl(std::uint32_t control) {
  ServiceControlFn handler;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
  }
  return handler ? handler(control) : win32_error::kInvalidHandle;
}

std::optional<FakeServiceManager::Entry> FakeServiceManager::Service(
    const std::string& name) const {
  std::lock_guard lock(mutex_);
  auto it = services_.find(FoldCase(name));
  if (it == services_.end()) return std::nullopt;
  return it->second;
}

}  // namespace keldran::fake
