// IServiceManager: the service control dispatcher, the control handler and the service database.
#include <condition_variable>
#include <mutex>

#include "platform/boundary.h"
#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

// The dispatcher and the handler call plain functions without context, so what they forward to
// lives here; one process runs one service.
ServiceMainFn g_serviceMain;
std::mutex g_controlMutex;
ServiceControlFn g_controlHandler;
std::mutex g_mainMutex;
std::condition_variable g_mainEnded;
bool g_mainRunning = false;

void WINAPI ServiceMainTrampoline(DWORD, LPSTR*) noexcept {
  {
    std::lock_guard lock(g_mainMutex);
    g_mainRunning = true;
  }
  try {
    if (g_serviceMain) g_serviceMain();
  } catch (...) {
    ::OutputDebugStringA("KeldranGridAgent: the service main function threw\n");
    ReportBoundaryFailure("the service's main function");
  }
  {
    std::lock_guard lock(g_mainMutex);
    g_mainRunning = false;
  }
  g_mainEnded.notify_all();
}

DWORD WINAPI ControlHandlerTrampoline(DWORD control, DWORD, LPVOID, LPVOID) noexcept {
  try {
    ServiceControlFn handler;
    {
      std::lock_guard lock(g_controlMutex);
      handler = g_controlHandler;
    }
    if (handler) return handler(control);
  } catch (...) {
    ::OutputDebugStringA("KeldranGridAgent: the service control handler threw\n");
    ReportBoundaryFailure("the service's control handler");
  }
  return ERROR_CALL_NOT_IMPLEMENTED;
}

SERVICE_STATUS ToNative(const ServiceStatus& s) {
  return SERVICE_STATUS{
      s.serviceType, s.currentState, s.controlsAccepted, s.win32ExitCode, s.serviceSpecificExitCode,
      s.checkPoint,  s.waitHint};
}

// SERVICE_STATUS and SERVICE_STATUS_PROCESS share these fields.
template <class Native>
ServiceStatus FromNative(const Native& s) {
  return ServiceStatus{s.dwServiceType,
                       s.dwCurrentState,
                       s.dwControlsAccepted,
                       s.dwWin32ExitCode,
                       s.dwServiceSpecificExitCode,
                       s.dwCheckPoint,
                       s.dwWaitHint};
}

SC_HANDLE Sc(ScHandle handle) { return FromSeam<SC_HANDLE>(handle); }

const char* NullIfEmpty(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

std::string Text(const char* text) { return text ? text : ""; }

Win32Error ChangeConfig2(ScHandle service, DWORD level, void* info) {
  return ::ChangeServiceConfig2A(Sc(service), level, info) ? 0 : ::GetLastError();
}

class ServiceManager final : public IServiceManager {
 public:
  Win32Error RunDispatcher(const std::string& serviceName, ServiceMainFn serviceMain) override {
    g_serviceMain = std::move(serviceMain);
    std::string name = serviceName;
    SERVICE_TABLE_ENTRYA table[] = {{name.data(), &ServiceMainTrampoline}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherA(table)) return ::GetLastError();
    // The dispatcher returns as soon as the service reports itself stopped, which the service
    // main function does as its last step, but before it has returned: the caller must not tear
    // down what that function still uses.
    std::unique_lock lock(g_mainMutex);
    g_mainEnded.wait(lock, [] { return !g_mainRunning; });
    return 0;
  }

  Win32Error RegisterControlHandler(const std::string& serviceName, ServiceControlFn handler,
                                    ServiceStatusHandle* handle) override {
    {
      std::lock_guard lock(g_controlMutex);
      g_controlHandler = std::move(handler);
    }
    SERVICE_STATUS_HANDLE h =
        ::RegisterServiceCtrlHandlerExA(serviceName.c_str(), &ControlHandlerTrampoline, nullptr);
    if (!h) return ::GetLastError();
    *handle = ToSeam<ServiceStatusHandle>(h);
    return 0;
  }

  bool SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) override {
    SERVICE_STATUS native = ToNative(status);
    return ::SetServiceStatus(FromSeam<SERVICE_STATUS_HANDLE>(handle), &native) != FALSE;
  }

  Win32Error OpenManager(std::uint32_t access, ScHandle* manager) override {
    SC_HANDLE h = ::OpenSCManagerA(nullptr, nullptr, access);
    if (!h) return ::GetLastError();
    *manager = ToSeam<ScHandle>(h);
    return 0;
  }

  Win32Error OpenService(ScHandle manager, const std::string& name, std::uint32_t access,
                         ScHandle* service) override {
    SC_HANDLE h = ::OpenServiceA(Sc(manager), name.c_str(), access);
    if (!h) return ::GetLastError();
    *service = ToSeam<ScHandle>(h);
    return 0;
  }

  Win32Error CreateService(ScHandle manager, const ServiceDefinition& def,
                           ScHandle* service) override {
    std::string dependencies;  // "a\0b\0\0"
    for (const std::string& d : def.dependencies) dependencies.append(d).push_back('\0');
    dependencies.push_back('\0');
    SC_HANDLE h = ::CreateServiceA(Sc(manager), def.name.c_str(), def.displayName.c_str(),
                                   def.desiredAccess, def.serviceType, def.startType,
                                   def.errorControl, def.binaryPath.c_str(), nullptr, nullptr,
                                   def.dependencies.empty() ? nullptr : dependencies.c_str(),
                                   NullIfEmpty(def.account), NullIfEmpty(def.password));
    if (!h) return ::GetLastError();
    *service = ToSeam<ScHandle>(h);
    return 0;
  }

  bool SetDescription(ScHandle service, const std::string& description) override {
    // Looked up at run time: older systems lack it.
    using ChangeConfig2 = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
    HMODULE advapi = ::GetModuleHandleA("advapi32.dll");
    FARPROC proc = advapi ? ::GetProcAddress(advapi, "ChangeServiceConfig2A") : nullptr;
    if (!proc) return false;
    auto change = reinterpret_cast<ChangeConfig2>(reinterpret_cast<void (*)()>(proc));
    std::string text = description;
    SERVICE_DESCRIPTIONA info{text.data()};
    return change(Sc(service), SERVICE_CONFIG_DESCRIPTION, &info) != FALSE;
  }

  Win32Error SetFailureActions(ScHandle service, const FailureActions& actions) override {
    std::vector<SC_ACTION> native;
    for (const std::uint32_t delay : actions.restartDelaysMs)
      native.push_back(SC_ACTION{SC_ACTION_RESTART, delay});
    SERVICE_FAILURE_ACTIONSA info{};
    info.dwResetPeriod = actions.resetPeriodSeconds;
    info.cActions = static_cast<DWORD>(native.size());
    info.lpsaActions = native.empty() ? nullptr : native.data();
    return ChangeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS, &info);
  }

  Win32Error SetFailureActionsFlag(ScHandle service, bool onNonCrashFailures) override {
    SERVICE_FAILURE_ACTIONS_FLAG info{onNonCrashFailures ? TRUE : FALSE};
    return ChangeConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &info);
  }

  Win32Error SetPreshutdownTimeout(ScHandle service, std::uint32_t timeoutMs) override {
    SERVICE_PRESHUTDOWN_INFO info{timeoutMs};
    return ChangeConfig2(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info);
  }

  Win32Error SetDelayedAutoStart(ScHandle service, bool delayed) override {
    SERVICE_DELAYED_AUTO_START_INFO info{delayed ? TRUE : FALSE};
    return ChangeConfig2(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info);
  }

  Win32Error Control(ScHandle service, std::uint32_t control, ServiceStatus* status) override {
    SERVICE_STATUS native{};
    BOOL ok = ::ControlService(Sc(service), control, &native);
    Win32Error e = ok ? 0 : ::GetLastError();
    if (status) *status = FromNative(native);
    return e;
  }

  Win32Error Delete(ScHandle service) override {
    return ::DeleteService(Sc(service)) ? 0 : ::GetLastError();
  }

  Win32Error QueryStatus(ScHandle service, ServiceStatus* status) override {
    SERVICE_STATUS native{};
    if (!::QueryServiceStatus(Sc(service), &native)) return ::GetLastError();
    *status = FromNative(native);
    return 0;
  }

  Win32Error QueryConfig(ScHandle service, ServiceConfigView* config) override {
    DWORD needed = 0;
    std::vector<std::uint8_t> buffer;
    for (;;) {
      auto* native = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
      if (::QueryServiceConfigA(Sc(service), native, static_cast<DWORD>(buffer.size()), &needed)) {
        *config = ServiceConfigView{native->dwServiceType, native->dwStartType,
                                    Text(native->lpBinaryPathName), Text(native->lpDisplayName),
                                    Text(native->lpServiceStartName)};
        return 0;
      }
      Win32Error e = ::GetLastError();
      if (e != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return e;
      buffer.assign(needed, 0);
    }
  }

  Win32Error StartService(ScHandle service) override {
    return ::StartServiceA(Sc(service), 0, nullptr) ? 0 : ::GetLastError();
  }

  Win32Error EnumOwnProcessServices(ScHandle manager,
                                    std::vector<EnumeratedService>* out) override {
    // First the size, then the data; again if services were added in between.
    std::vector<std::uint8_t> buffer;
    for (;;) {
      DWORD needed = 0;
      DWORD count = 0;
      DWORD resume = 0;
      BOOL ok = ::EnumServicesStatusExA(
          Sc(manager), SC_ENUM_PROCESS_INFO, SERVICE_WIN32_OWN_PROCESS, SERVICE_STATE_ALL,
          buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr);
      if (!ok) {
        Win32Error e = ::GetLastError();
        if (e != ERROR_MORE_DATA || needed == 0) return e;
        buffer.assign(buffer.size() + needed, 0);
        continue;
      }
      const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA*>(buffer.data());
      out->clear();
      for (DWORD i = 0; i < count; ++i) {
        out->push_back(EnumeratedService{Text(entries[i].lpServiceName),
                                         Text(entries[i].lpDisplayName),
                                         FromNative(entries[i].ServiceStatusProcess)});
      }
      return 0;
    }
  }

  void Close(ScHandle handle) override { UniqueScHandle(Sc(handle)).reset(); }
};

}  // namespace

std::unique_ptr<IServiceManager> MakeServiceManager() { return std::make_unique<ServiceManager>(); }

}  // namespace keldran::win32
