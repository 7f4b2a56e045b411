#include "test_client.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>

#include "common/files.h"
#include "common/text.h"

namespace keldran::client {
namespace {

constexpr char kWindowClass[] = "KeldranTestClientWindow";
constexpr DWORD kLookupTimeoutMs = 10000;
constexpr DWORD kLookupRetryMs = 100;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// Creates the marker file; false when it exists already. CREATE_NEW makes the test and the
// creation one step, so of two instances started together only one wins.
bool ClaimMarker(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

const char* EventName(WPARAM code) {
  switch (code) {
    case 1:
      return "stop";
    case 2:
      return "pause";
    case 3:
      return "continue";
    case 4:
      return "ping";
    case 5:
      return "shutdown";
    case 6:
      return "debug";
    case 7:
      return "hide";
    case 8:
      return "show";
    default:
      return "unknown";
  }
}

// While a call to the host is out, COM's wait loop dispatches no posted messages, so the host's
// stop or shutdown event would wait behind the call. The filter hears of every message that
// arrives during a call and hands a stop or shutdown event to the client at once. (Cancelling
// the call instead does not work under Wine: it keeps waiting.) With /plain the client goes
// without it, as an ordinary client does, and hears the event once its call has returned.
class StopDuringCalls final : public IMessageFilter {
 public:
  StopDuringCalls(const HWND& window, const UINT& eventMessage, std::function<void(WPARAM)> onStop)
      : window_(window), eventMessage_(eventMessage), onStop_(std::move(onStop)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMessageFilter)) {
      *out = static_cast<IMessageFilter*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the client itself: no reference counting.
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }

  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD,
                                             LPINTERFACEINFO) noexcept override {
    return SERVERCALL_ISHANDLED;
  }
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) noexcept override {
    return static_cast<DWORD>(-1);  // do not retry
  }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) noexcept override {
    MSG msg;
    if (window_ && eventMessage_ != 0 &&
        PeekMessageA(&msg, window_, eventMessage_, eventMessage_, PM_NOREMOVE | PM_NOYIELD) &&
        (msg.wParam == 1 || msg.wParam == 5)) {
      try {
        onStop_(msg.wParam);
      } catch (...) {
        // Nothing may cross back into COM.
      }
    }
    return PENDINGMSG_WAITDEFPROCESS;
  }

 private:
  const HWND& window_;
  const UINT& eventMessage_;
  std::function<void(WPARAM)> onStop_;
};

// Registers the filter for the scope and puts the previous one back.
class FilterRegistration {
 public:
  explicit FilterRegistration(IMessageFilter* filter) {
    if (FAILED(CoRegisterMessageFilter(filter, &previous_))) previous_ = nullptr;
  }
  FilterRegistration(const FilterRegistration&) = delete;
  FilterRegistration& operator=(const FilterRegistration&) = delete;
  ~FilterRegistration() {
    IMessageFilter* ours = nullptr;
    if (SUCCEEDED(CoRegisterMessageFilter(previous_, &ours)) && ours) ours->Release();
    if (previous_) previous_->Release();
  }

 private:
  IMessageFilter* previous_ = nullptr;
};

}  // namespace

void OutLog::Open(const std::string& path) {
  if (path.empty()) return;
  file_.reset(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void OutLog::Line(const std::string& text) {
  const std::string line =
      Format("%lu ", static_cast<unsigned long>(GetTickCount())) + text + "\r\n";
  OutputDebugStringA(line.c_str());
  if (!file_.valid()) return;
  DWORD written = 0;
  // Append-only handles write each line at the end of the file as one piece, so lines of
  // several instances do not interleave.
  WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  FlushFileBuffers(file_.get());
}

int TestClient::Run(HINSTANCE instance, const std::string& commandLine) {
  const HostParams host = SplitHostParams(commandLine);
  const Options options = ParseOptions(SplitArguments(host.rest));
  log_.Open(options.outFile);
  log_.Line(Format("start instance=%s pid=%lu serviceid=%s servicename=%s",
                   options.instance.c_str(), static_cast<unsigned long>(GetCurrentProcessId()),
                   host.serviceId.c_str(), host.serviceName.c_str()));
  for (const std::string& arg : options.unknown) log_.Line("unknown argument " + arg);

  // Only the instance that creates the marker runs the first script; restarts run the later one.
  const bool first = options.onceMarker.empty() || ClaimMarker(options.onceMarker);
  if (!first) log_.Line("marker found: later steps");
  std::string script = first ? options.steps : options.laterSteps;
  const std::string& scriptFile = first ? options.scriptFile : options.laterScriptFile;
  if (!scriptFile.empty()) {
    const std::optional<std::string> text = tools::ReadWholeFile(scriptFile);
    if (!text) {
      log_.Line("cannot read script " + scriptFile);
      log_.Line("exit 2");
      return kUsageError;
    }
    script += *text;
  }
  steps_ = ParseSteps(script);
  if (host.serviceId.empty()) {
    log_.Line("no ServiceID on the command line");
    log_.Line("exit 2");
    return kUsageError;
  }

  // A single-threaded apartment, so the host's window messages and our COM calls share the one
  // message loop.
  tools::ComApartment apartment;
  if (FAILED(apartment.result())) {
    log_.Line(Format("CoInitialize hr=0x%08lX", static_cast<unsigned long>(apartment.result())));
    return kNoHost;
  }
  StopDuringCalls filter(window_, eventMessage_, [this](WPARAM code) { OnHostEvent(code); });
  FilterRegistration filterRegistration(options.plain ? nullptr : &filter);
  // The host registers the same name when the client connects; both sides get the same id.
  eventMessage_ = RegisterWindowMessageA("KeldranService_Event");
  if (!CreateClientWindow(instance)) {
    log_.Line(Format("cannot create window error=%lu", GetLastError()));
    log_.Line("exit 3");
    return kNoHost;
  }

  if (options.delayMs > 0) Sleep(static_cast<DWORD>(options.delayMs));
  if (HRESULT hr = FindHost(host.serviceId); FAILED(hr)) {
    log_.Line(Format("host not found hr=0x%08lX", static_cast<unsigned long>(hr)));
    Exit(kNoHost);
  } else {
    // The interface carries the window handle as 32 bits, which is all a handle uses.
    long threadId = 0;
    hr = service_->Connect(static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(window_)),
                           &threadId);
    log_.Line(Format("connected thread=%ld hwnd=%u hr=0x%08lX", threadId,
                     static_cast<unsigned int>(reinterpret_cast<UINT_PTR>(window_)),
                     static_cast<unsigned long>(hr)));
    if (FAILED(hr))
      Exit(kNoHost);
    else
      ScheduleSteps(0);
  }

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  service_.reset();
  return exitCode_;
}

bool TestClient::CreateClientWindow(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TestClient::WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  RegisterClassExA(&wc);
  // A real top-level window, never shown: the host posts its events to it.
  window_ =
      CreateWindowExA(0, kWindowClass, "KeldranTestClient", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 300, 200, nullptr, nullptr, instance, this);
  return window_ != nullptr;
}

HRESULT TestClient::FindHost(const std::string& serviceId) {
  // The host may still be registering itself when it starts us: look again for a while.
  ComPtr<IUnknown> object;
  const HRESULT hr = tools::FindRunningObject(serviceId, kLookupTimeoutMs, kLookupRetryMs, object);
  return FAILED(hr) ? hr : object->QueryInterface(IID_IService, service_.put_void());
}

LRESULT CALLBACK TestClient::WindowProc(HWND hwnd, UINT msg, WPARAM wParam,
                                        LPARAM lParam) noexcept {
  try {
    if (msg == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestClient*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self) return self->OnMessage(hwnd, msg, wParam, lParam);
  } catch (...) {
    // Nothing may cross back into the system's dispatcher.
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT TestClient::OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (eventMessage_ != 0 && msg == eventMessage_) {
    OnHostEvent(wParam);
    return 0;
  }
  switch (msg) {
    case WM_TIMER:
      if (wParam == kStepTimer) RunSteps();
      if (wParam == kHeartbeatTimer) Heartbeat();
      if (wParam == kRecordTimer) LogRecord();
      return 0;
    case WM_CLOSE:
      Exit(0);
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      PostQuitMessage(exitCode_);
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

void TestClient::OnHostEvent(WPARAM code) {
  log_.Line(Format("event %u %s", static_cast<unsigned>(code), EventName(code)));
  if ((code == 1 || code == 5) && !ignoreStop_) EndAtOnce();  // stop, shutdown
}

void TestClient::ScheduleSteps(UINT ms) {
  if (window_) SetTimer(window_, kStepTimer, ms, nullptr);
}

void TestClient::RunSteps() {
  // The timer is re-armed only by a wait step, so a step's COM call (which pumps messages while
  // it waits) never runs the script again from inside itself.
  if (window_) KillTimer(window_, kStepTimer);
  while (nextStep_ < steps_.size() && !exiting_) {
    const Step step = steps_[nextStep_++];
    log_.Line("step " + step.name + (step.hasValue ? "=" + step.value : ""));
    if (step.name == "wait") {
      ScheduleSteps(static_cast<UINT>(ParseNumber(step.value).value_or(0)));
      return;
    }
    RunStep(step);
  }
}

void TestClient::RunStep(const Step& step) {
  const std::string& name = step.name;
  if (name == "heartbeat") {
    const long ms = ParseNumber(step.value).value_or(0);
    if (ms > 0)
      SetTimer(window_, kHeartbeatTimer, static_cast<UINT>(ms), nullptr);
    else
      KillTimer(window_, kHeartbeatTimer);
  } else if (name == "log") {
    // A numbered record every that many milliseconds, as a client that reports its work does.
    const long ms = ParseNumber(step.value).value_or(0);
    if (ms > 0)
      SetTimer(window_, kRecordTimer, static_cast<UINT>(ms), nullptr);
    else
      KillTimer(window_, kRecordTimer);
  } else if (name == "progress") {
    // "<text>,<timeout s>": the text may hold commas, the time-out is after the last one.
    const size_t comma = step.value.rfind(',');
    Call call{"Progress", {step.value.substr(0, comma)}};
    call.args.push_back(comma == std::string::npos ? "0" : step.value.substr(comma + 1));
    LogCall("call", call, CallEarlyBound(service_.get(), call));
  } else if (name == "silent") {
    silent_ = true;
  } else if (name == "exit") {
    Exit(static_cast<int>(ParseNumber(step.value).value_or(0)));
  } else if (name == "pause" || name == "resume") {
    // A paused client sends no heartbeats: a Running call would resume it.
    paused_ = name == "pause";
    const Call call{paused_ ? "Pause" : "Running", {}};
    LogCall("call", call, CallEarlyBound(service_.get(), call));
  } else if (name == "call" || name == "dispatch") {
    std::optional<Call> call = ParseCall(step.value);
    if (!call) {
      log_.Line("bad call " + step.value);
      return;
    }
    LogCall(name.c_str(), *call,
            name == "call" ? CallEarlyBound(service_.get(), *call)
                           : CallLateBound(service_.get(), *call));
  } else if (name == "busy") {
    // Heartbeats back to back for that many milliseconds, with no look at this client's own
    // messages in between: a client in a long stretch of work that reports as it goes, and so
    // is inside a call whenever the host has something to tell it.
    const ULONGLONG until = GetTickCount64() + ParseNumber(step.value).value_or(0);
    const Call running{"Running", {}};
    unsigned long count = 0;
    CallOutcome last{};
    while (GetTickCount64() < until && !exiting_) {
      last = CallEarlyBound(service_.get(), running);
      ++count;
    }
    log_.Line(Format("busy calls=%lu hr=0x%08lX", count, static_cast<unsigned long>(last.hr)));
  } else if (name == "ignorestop") {
    // As a client that gave the host no window would: it never hears of a stop.
    ignoreStop_ = true;
  } else if (name == "end") {
    Exit(0);
  } else {
    log_.Line("unknown step " + name);
  }
}

void TestClient::Heartbeat() {
  if (paused_ || silent_ || !service_) return;
  const Call running{"Running", {}};
  LogCall("call", running, CallEarlyBound(service_.get(), running));
}

void TestClient::LogRecord() {
  if (!service_) return;
  const Call call{"Log", {"0", Format("client record %06u", ++records_)}};
  const ULONGLONG before = GetTickCount64();
  const CallOutcome outcome = CallEarlyBound(service_.get(), call);
  // How long the host kept the call: a client waits for its host in every call.
  log_.Line(Format("log %06u hr=0x%08lX ms=%llu", records_, static_cast<unsigned long>(outcome.hr),
                   GetTickCount64() - before));
}

void TestClient::LogCall(const char* kind, const Call& call, const CallOutcome& outcome) {
  std::string line =
      Format("%s %s hr=0x%08lX", kind, call.method.c_str(), static_cast<unsigned long>(outcome.hr));
  if (!outcome.value.empty()) line += " value=" + tools::OneLine(outcome.value);
  log_.Line(line);
}

void TestClient::EndAtOnce() {
  // The host may be waiting for this process to end and serve no calls until then, and even
  // releasing our reference to its object is a call: so the process ends here, and its end
  // releases what it holds.
  log_.Line("exit 0");
  ExitProcess(0);
}

void TestClient::Exit(int code) {
  if (exiting_) return;
  exiting_ = true;
  exitCode_ = code;
  log_.Line(Format("exit %lu", static_cast<unsigned long>(static_cast<DWORD>(code))));
  if (window_) {
    KillTimer(window_, kStepTimer);
    KillTimer(window_, kHeartbeatTimer);
    KillTimer(window_, kRecordTimer);
    DestroyWindow(window_);
  } else {
    PostQuitMessage(code);
  }
}

}  // namespace keldran::client
