// KeldranGridUtil.Client, the helper of script clients. A script host owns no window, and under
// Wine its WScript.Sleep does not even wait, so a script on its own never hears the host's pings
// or its stop request. This class connects to the host with a hidden window of its own and pumps
// that window's messages while the script waits in Sleep or WaitForStop. A ping is answered only
// then, while the script is really alive, so that a script that hangs anywhere else is still
// timed out and killed; a stop or shutdown ends the wait at once and shows in StopRequested.
//
// Threads: the class is apartment threaded. Its methods and its window procedure all
// run on the script's thread, so its state needs no lock.
#include "platform/win32/windows_api.h"

#include <atomic>
#include <new>
#include <optional>
#include <string>

#include "gridutil/host_params.h"
#include "gridutil/module_win32.h"
#include "keldran_gridutil.h"
#include "keldran_service.h"
#include "platform/win32/dual_dispatch.h"
#include "platform/win32/unique_handle.h"
#include "supervision/client_events.h"

namespace keldran::gridutil {
namespace {

using win32::ComPtr;

constexpr char kWindowClass[] = "KeldranGridUtilClient";
constexpr wchar_t kErrorSource[] = L"KeldranGridUtil.Client";
// The host publishes itself before it starts its client; the retries cover a client started by
// hand a moment before its host.
constexpr ULONGLONG kLookupMs = 5000;
constexpr DWORD kLookupRetryMs = 100;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::optional<HostParams> ReadHostParams() {
  std::optional<std::string> environment;
  const DWORD size = GetEnvironmentVariableA(kParamsVariable, nullptr, 0);
  if (size > 0) {
    std::string value(size, '\0');
    const DWORD n = GetEnvironmentVariableA(kParamsVariable, value.data(), size);
    if (n > 0 && n < size) environment = value.substr(0, n);
  }
  return FindHostParams(GetCommandLineA(), environment);
}

// The failure with a text that the script sees as Err.Description.
HRESULT Fail(HRESULT hr, const std::wstring& description) {
  ComPtr<ICreateErrorInfo> create;
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(CreateErrorInfo(create.put())) &&
      SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) {
    create->SetGUID(IID_IGridClient);
    create->SetSource(const_cast<LPOLESTR>(kErrorSource));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    SetErrorInfo(0, info.get());
  }
  return hr;
}

HRESULT FindHost(const std::string& serviceId, ComPtr<IService>& host) {
  const std::wstring name = Widen(serviceId);
  const ULONGLONG deadline = GetTickCount64() + kLookupMs;
  for (;;) {
    ComPtr<IRunningObjectTable> table;
    ComPtr<IMoniker> moniker;
    ComPtr<IUnknown> object;
    HRESULT hr = GetRunningObjectTable(0, table.put());
    if (SUCCEEDED(hr)) hr = CreateFileMoniker(name.c_str(), moniker.put());
    if (SUCCEEDED(hr)) hr = table->GetObject(moniker.get(), object.put());
    if (SUCCEEDED(hr)) return object->QueryInterface(IID_IService, host.put_void());
    if (GetTickCount64() >= deadline) return hr;
    ::Sleep(kLookupRetryMs);
  }
}

// The client's message-only window: the host only posts to it, and there is nothing to show.
// Owns the window and, for its life, the window class.
class HiddenWindow {
 public:
  HiddenWindow() = default;
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;
  ~HiddenWindow() {
    if (!window_) return;
    window_.reset();
    // Fails while another client of the process still has a window of the class.
    UnregisterClassA(kWindowClass, ThisModule());
  }

  [[nodiscard]] bool Create(WNDPROC procedure, void* owner) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kWindowClass;
    // A second client in the process finds the class registered already.
    if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    window_.reset(CreateWindowExA(0, kWindowClass, "KeldranGridUtil.Client", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, ThisModule(), owner));
    // The host registers the same name when the client connects: both sides get the same id.
    eventMessage_ = RegisterWindowMessageA(kClientEventMessageName);
    return window_ && eventMessage_ != 0;
  }

  HWND get() const { return window_.get(); }
  UINT eventMessage() const { return eventMessage_; }

 private:
  win32::UniqueWindow window_;
  UINT eventMessage_ = 0;
};

class GridClient final : public win32::DualDispatch<IGridClient>, public ISupportErrorInfo {
 public:
  explicit GridClient(ComPtr<ITypeInfo> typeInfo)
      : DualDispatch(std::move(typeInfo)), params_(ReadHostParams()) {}
  GridClient(const GridClient&) = delete;
  GridClient& operator=(const GridClient&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, IID_IGridClient)) {
      *out = static_cast<IGridClient*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) noexcept override {
    return IsEqualIID(iid, IID_IGridClient) ? S_OK : S_FALSE;
  }

  // IGridClient
  HRESULT STDMETHODCALLTYPE Connect() noexcept override {
    return Guard([&] { return DoConnect(); });
  }
  HRESULT STDMETHODCALLTYPE Heartbeat() noexcept override {
    return Guard([&] { return CallHost(L"Heartbeat", [](IService* h) { return h->Running(); }); });
  }
  HRESULT STDMETHODCALLTYPE Progress(BSTR message, LONG timeout) noexcept override {
    return Guard([&] {
      return CallHost(L"Progress", [&](IService* h) { return h->Progress(message, timeout); });
    });
  }
  HRESULT STDMETHODCALLTYPE Log(BSTR message, LONG type) noexcept override {
    return Guard(
        [&] { return CallHost(L"Log", [&](IService* h) { return h->Log(type, message, 0, 0); }); });
  }
  HRESULT STDMETHODCALLTYPE Sleep(LONG milliseconds) noexcept override {
    return Guard([&] {
      Wait(milliseconds);
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE WaitForStop(LONG milliseconds,
                                        VARIANT_BOOL* stopped) noexcept override {
    if (!stopped) return E_POINTER;
    return Guard([&] {
      Wait(milliseconds);
      *stopped = stopRequested_ ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_StopRequested(VARIANT_BOOL* value) noexcept override {
    if (!value) return E_POINTER;
    *value = stopRequested_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ServiceID(BSTR* value) noexcept override {
    return Guard([&] { return Text(params_ ? params_->serviceId : std::string(), value); });
  }
  HRESULT STDMETHODCALLTYPE get_ServiceName(BSTR* value) noexcept override {
    return Guard([&] { return Text(params_ ? params_->serviceName : std::string(), value); });
  }

 private:
  ~GridClient() = default;

  // No exception may leave a COM method.
  template <class Call>
  static HRESULT Guard(Call call) noexcept {
    try {
      return call();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  static HRESULT Text(const std::string& text, BSTR* out) {
    if (!out) return E_POINTER;
    const std::wstring wide = Widen(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT DoConnect() {
    if (host_) return S_OK;
    if (stopRequested_) return Fail(E_UNEXPECTED, L"The host has asked this client to stop");
    if (!params_) {
      return Fail(E_INVALIDARG,
                  L"No /ServiceID= on the command line or in KeldranService_PDF_PARAMS: the "
                  L"script was not started by KeldranGridAgent");
    }
    ComPtr<IService> host;
    if (const HRESULT hr = FindHost(params_->serviceId, host); FAILED(hr))
      return Fail(hr,
                  L"No KeldranGridAgent host runs under ServiceID " + Widen(params_->serviceId));
    if (!window_.get() && !window_.Create(&GridClient::WindowProc, this))
      return Fail(HRESULT_FROM_WIN32(GetLastError()), L"Cannot create the helper's window");
    // The interface carries the window handle as 32 bits, which is all a handle uses.
    LONG threadId = 0;
    const HRESULT hr = Calling([&] {
      return host->Connect(static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(window_.get())),
                           &threadId);
    });
    if (FAILED(hr)) return Fail(hr, L"The host refused Connect");
    host_ = std::move(host);
    return S_OK;
  }

  template <class Call>
  HRESULT Calling(Call call) {
    calling_ = true;
    const HRESULT hr = call();
    calling_ = false;
    return hr;
  }

  template <class Call>
  HRESULT CallHost(const wchar_t* method, Call call) {
    if (!host_)
      return Fail(E_UNEXPECTED, std::wstring(L"Not connected: call Connect before ") + method);
    const HRESULT hr = Calling([&] { return call(host_.get()); });
    return FAILED(hr) ? Fail(hr, std::wstring(method) + L" failed at the host") : hr;
  }

  // Pumps the thread's messages for the time (no limit when negative), or until a stop arrives.
  void Wait(LONG milliseconds) {
    const bool outer = waiting_;
    waiting_ = true;
    const ULONGLONG deadline =
        GetTickCount64() + static_cast<ULONGLONG>(milliseconds < 0 ? 0 : milliseconds);
    while (!stopRequested_) {
      MSG msg;
      if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          // Not ours to take: the script host's own loop ends on it.
          PostQuitMessage(static_cast<int>(msg.wParam));
          break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        continue;
      }
      DWORD timeout = INFINITE;
      if (milliseconds >= 0) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        timeout = static_cast<DWORD>(deadline - now);
      }
      MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    waiting_ = outer;
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept {
    try {
      if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      }
      auto* self = reinterpret_cast<GridClient*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
      if (self && self->window_.eventMessage() != 0 && msg == self->window_.eventMessage()) {
        self->OnHostEvent(wParam);
        return 0;
      }
    } catch (...) {
      // Nothing may cross back into the system's dispatcher.
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }

  void OnHostEvent(WPARAM code) {
    switch (code) {
      case client_event::kStop:
      case client_event::kShutdown:
        // The host keeps answering calls while it waits for this process to end, so the script
        // may still report and log on its way out.
        stopRequested_ = true;
        break;
      case client_event::kPing:
        // Only from inside Sleep or WaitForStop: elsewhere the script may be hung, and the host
        // must find that out. Never from inside a call to the host.
        if (waiting_ && !calling_ && host_) (void)Calling([&] { return host_->Running(); });
        break;
      default:
        // Pause, continue, debug, hide and show status mean nothing to a windowless script.
        break;
    }
  }

  ModuleRef moduleRef_;
  std::atomic<ULONG> refs_{1};
  const std::optional<HostParams> params_;
  HiddenWindow window_;
  ComPtr<IService> host_;
  bool waiting_ = false;  // inside Sleep or WaitForStop
  bool calling_ = false;  // a call to the host is out
  bool stopRequested_ = false;
};

}  // namespace

HRESULT CreateGridClient(REFIID iid, void** out) noexcept {
  try {
    ComPtr<ITypeLib> library;
    ComPtr<ITypeInfo> info;
    HRESULT hr = LoadTypeLibEx(ModulePathWide().c_str(), REGKIND_NONE, library.put());
    if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(IID_IGridClient, info.put());
    if (FAILED(hr)) return hr;
    auto* client = new GridClient(std::move(info));
    hr = client->QueryInterface(iid, out);
    client->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace keldran::gridutil
