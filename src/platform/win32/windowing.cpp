// IWindowing: windows of classes of their own, the message queue and thread timers.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/boundary.h"
#include "platform/win32/backend.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

// Every window made here gets a class of its own, named with this prefix.
constexpr char kClassPrefix[] = "KeldranWindow.";

// What CreateWindow hands to the window procedure through WM_NCCREATE.
struct CreateContext {
  WindowProcedure* procedure;
  bool attached;
};

// The window owns its procedure from WM_NCCREATE (in GWLP_USERDATA) until WM_NCDESTROY.
LRESULT CALLBACK WindowTrampoline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* context =
        static_cast<CreateContext*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context->procedure));
    context->attached = true;
  }
  auto* procedure = reinterpret_cast<WindowProcedure*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  LRESULT result = 0;
  bool handled = false;
  if (procedure && *procedure) {
    try {
      result = (*procedure)(reinterpret_cast<WindowHandle>(hwnd), message, wParam, lParam);
      handled = true;
    } catch (...) {
      ::OutputDebugStringA("KeldranGridAgent: a window procedure threw\n");
      ReportBoundaryFailure("a window procedure");
    }
  }
  if (!handled) result = ::DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY && procedure) {
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    delete procedure;
  }
  return result;
}

// Thread timers carry no context either: their procedures are found by timer id.
std::mutex g_timerMutex;
std::map<UINT_PTR, TimerProcedure> g_timers;

void CALLBACK TimerTrampoline(HWND, UINT, UINT_PTR id, DWORD) noexcept {
  try {
    TimerProcedure procedure;
    {
      std::lock_guard lock(g_timerMutex);
      auto it = g_timers.find(id);
      if (it == g_timers.end()) return;
      procedure = it->second;
    }
    if (procedure) procedure();
  } catch (...) {
    ::OutputDebugStringA("KeldranGridAgent: a timer procedure threw\n");
    ReportBoundaryFailure("the watchdog's timer procedure");
  }
}

class Windowing final : public IWindowing {
 public:
  std::uint32_t RegisterWindowMessage(const std::string& name) override {
    return ::RegisterWindowMessageA(name.c_str());
  }

  Win32Error CreateWindow(const WindowClassAndStyle& shape, WindowProcedure procedure,
                          WindowHandle* window) override {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    static std::atomic<unsigned> counter{0};
    char className[64];
    std::snprintf(className, sizeof className, "%s%lu.%u", kClassPrefix, ::GetCurrentProcessId(),
                  ++counter);

    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.style = shape.classStyle;
    cls.lpfnWndProc = &WindowTrampoline;
    cls.hInstance = instance;
    cls.hIcon =
        shape.iconResource ? ::LoadIconA(instance, MAKEINTRESOURCEA(shape.iconResource)) : nullptr;
    cls.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    cls.lpszClassName = className;
    if (!::RegisterClassExA(&cls)) return ::GetLastError();

    auto owned = std::make_unique<WindowProcedure>(std::move(procedure));
    CreateContext context{owned.get(), false};
    HWND hwnd = ::CreateWindowExA(shape.exStyle, className, shape.title.c_str(), shape.style,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, &context);
    // Once attached the window frees the procedure at WM_NCDESTROY, even when creation failed.
    if (context.attached) static_cast<void>(owned.release());
    if (!hwnd) {
      Win32Error e = ::GetLastError();
      ::UnregisterClassA(className, instance);
      return e;
    }
    *window = reinterpret_cast<WindowHandle>(hwnd);
    return 0;
  }

  bool DestroyWindow(WindowHandle window) override {
    // Each window has a class of its own, which can go once the window has.
    char className[64] = {};
    ::GetClassNameA(ToHwnd(window), className, sizeof className);
    if (!::DestroyWindow(ToHwnd(window))) return false;
    if (std::strncmp(className, kClassPrefix, std::strlen(kClassPrefix)) == 0) {
      ::UnregisterClassA(className, ::GetModuleHandleA(nullptr));
    }
    return true;
  }

  bool IsWindow(WindowHandle window) override { return ::IsWindow(ToHwnd(window)) != FALSE; }

  std::intptr_t DefWindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) override {
    return ::DefWindowProcA(ToHwnd(window), message, wParam, lParam);
  }

  bool PeekMessage(Message* message) override {
    MSG m{};
    if (!::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) return false;
    *message = Message{reinterpret_cast<WindowHandle>(m.hwnd), m.message, m.wParam, m.lParam};
    return true;
  }

  std::uint32_t WaitForProcessOrMessage(ProcessHandle process,
                                        std::uint32_t milliseconds) override {
    HANDLE handle = FromSeam<HANDLE>(process);
    if (!handle) {
      const DWORD woke = ::MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
      return woke == WAIT_OBJECT_0 ? wait_result::kMessage : woke;
    }
    return ::MsgWaitForMultipleObjects(1, &handle, FALSE, milliseconds, QS_ALLINPUT);
  }

  void DispatchMessage(const Message& message) override {
    MSG m{};
    m.hwnd = ToHwnd(message.window);
    m.message = message.message;
    m.wParam = message.wParam;
    m.lParam = message.lParam;
    m.time = static_cast<DWORD>(::GetMessageTime());
    DWORD pos = ::GetMessagePos();
    m.pt = POINT{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
    ::TranslateMessage(&m);
    ::DispatchMessageA(&m);
  }

  bool PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override {
    return ::PostMessageA(ToHwnd(window), message, wParam, lParam) != FALSE;
  }

  std::intptr_t SendMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam) override {
    return ::SendMessageA(ToHwnd(window), message, wParam, lParam);
  }

  std::size_t CloseProcessWindows(std::uint32_t processId) override {
    struct Search {
      DWORD pid;
      std::size_t closed;
    } search{processId, 0};
    ::EnumWindows(
        [](HWND hwnd, LPARAM param) noexcept -> BOOL {
          auto* s = reinterpret_cast<Search*>(param);
          DWORD owner = 0;
          ::GetWindowThreadProcessId(hwnd, &owner);
          char name[32] = {};
          ::GetClassNameA(hwnd, name, sizeof name);
          // COM's own window would destroy itself and leave the client's calls without their
          // apartment's window; it is no window of the program's.
          if (owner == s->pid && std::strcmp(name, "OleMainThreadWndClass") != 0 &&
              ::PostMessageA(hwnd, WM_CLOSE, 0, 0)) {
            ++s->closed;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.closed;
  }

  bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam) override {
    return ::PostThreadMessageA(threadId, message, wParam, lParam) != FALSE;
  }

  void PostQuitMessage(int exitCode) override { ::PostQuitMessage(exitCode); }
  std::uint32_t CurrentThreadId() override { return ::GetCurrentThreadId(); }

  std::uintptr_t SetTimer(std::uint32_t periodMilliseconds, TimerProcedure procedure) override {
    // Registered under the lock so that a first tick cannot miss its procedure.
    std::lock_guard lock(g_timerMutex);
    UINT_PTR id = ::SetTimer(nullptr, 0, periodMilliseconds, &TimerTrampoline);
    if (id) g_timers[id] = std::move(procedure);
    return id;
  }

  IconHandle LoadIconFile(const std::string& path, int size) override {
    return ToSeam<IconHandle>(
        ::LoadImageA(nullptr, path.c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE));
  }

  IconHandle LoadIconResource(int resourceId) override {
    return ToSeam<IconHandle>(
        ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId)));
  }

  void DestroyIcon(IconHandle icon) override { UniqueIcon(FromSeam<HICON>(icon)).reset(); }

  void PaintText(WindowHandle window, const std::string& text, std::uint32_t format) override {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(ToHwnd(window), &paint);
    if (!dc) return;
    ScopeExit endPaint([&] { ::EndPaint(ToHwnd(window), &paint); });
    RECT client{};
    ::GetClientRect(ToHwnd(window), &client);
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &client, format);
  }
};

}  // namespace

std::unique_ptr<IWindowing> MakeWindowing() { return std::make_unique<Windowing>(); }

}  // namespace keldran::win32
