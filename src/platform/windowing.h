#pragma once
// Windows, window messages, the thread's message queue and timers.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/processes.h"
#include "platform/types.h"

namespace keldran {

struct IconHandleTag;
using IconHandle = Handle<IconHandleTag>;

namespace window_message {
constexpr std::uint32_t kNull = 0x0000;
constexpr std::uint32_t kCreate = 0x0001;
constexpr std::uint32_t kDestroy = 0x0002;
constexpr std::uint32_t kPaint = 0x000F;
constexpr std::uint32_t kClose = 0x0010;
constexpr std::uint32_t kQuit = 0x0012;
constexpr std::uint32_t kContextMenu = 0x007B;
constexpr std::uint32_t kSetIcon = 0x0080;
constexpr std::uint32_t kTimer = 0x0113;
constexpr std::uint32_t kLButtonDown = 0x0201;
constexpr std::uint32_t kLButtonDblClk = 0x0203;
constexpr std::uint32_t kRButtonDown = 0x0204;
constexpr std::uint32_t kRButtonDblClk = 0x0206;
constexpr std::uint32_t kUser = 0x0400;
constexpr std::uint32_t kApp = 0x8000;
}  // namespace window_message

struct Message {
  WindowHandle window = 0;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// A window's message handler; the backend calls it from its window procedure, and it must not
// throw (it runs inside an OS callback).
using WindowProcedure =
    std::function<std::intptr_t(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t)>;
using TimerProcedure = std::function<void()>;

struct WindowClassAndStyle {
  std::uint32_t classStyle = 0;  // CS_*
  std::uint32_t style = 0;       // WS_*
  std::uint32_t exStyle = 0;     // WS_EX_*
  std::string title;
  std::int32_t iconResource = 0;  // icon group of the class, 0 for none
};

class IWindowing {
 public:
  virtual ~IWindowing() = default;

  virtual std::uint32_t RegisterWindowMessage(const std::string& name) = 0;

  // Registers a class of its own (background COLOR_WINDOW + 1, no menu) and creates a top-level
  // window at the default position and size. The procedure receives WM_CREATE before this
  // returns. The window is not shown.
  [[nodiscard]] virtual Win32Error CreateWindow(const WindowClassAndStyle& windowClass,
                                                WindowProcedure procedure,
                                                WindowHandle* window) = 0;
  virtual bool DestroyWindow(WindowHandle window) = 0;
  virtual bool IsWindow(WindowHandle window) = 0;
  virtual std::intptr_t DefWindowProc(WindowHandle window, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) = 0;

  // PeekMessageA with PM_REMOVE for any window of the calling thread: true when one was taken.
  virtual bool PeekMessage(Message* message) = 0;
  // MsgWaitForMultipleObjects on the process with QS_ALLINPUT: wait_result::kObject0 when it
  // has ended, kMessage when input waits in the thread's queue, kTimeout or kFailed. With no
  // process (a null handle), for input only.
  virtual std::uint32_t WaitForProcessOrMessage(ProcessHandle process,
                                                std::uint32_t milliseconds) = 0;
  // TranslateMessage then DispatchMessageA.
  virtual void DispatchMessage(const Message& message) = 0;
  virtual bool PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) = 0;
  virtual std::intptr_t SendMessage(WindowHandle window, std::uint32_t message,
                                    std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // Posts WM_CLOSE to every top-level window of a process (shown or hidden); how many.
  virtual std::size_t CloseProcessWindows(std::uint32_t processId) = 0;
  virtual bool PostThreadMessage(std::uint32_t threadId, std::uint32_t message,
                                 std::uintptr_t wParam, std::intptr_t lParam) = 0;
  virtual void PostQuitMessage(int exitCode) = 0;
  virtual std::uint32_t CurrentThreadId() = 0;

  // SetTimer with no window and id 0: the procedure runs from the thread's message loop.
  virtual std::uintptr_t SetTimer(std::uint32_t periodMilliseconds, TimerProcedure procedure) = 0;

  // LoadImageA of an .ico file at the given size; none when it cannot be loaded.
  virtual IconHandle LoadIconFile(const std::string& path, int size) = 0;
  // LoadIconA of an icon group of the program.
  virtual IconHandle LoadIconResource(int resourceId) = 0;
  // DestroyIcon, for icons of LoadIconFile only: those of LoadIconResource are shared and must
  // not be destroyed.
  virtual void DestroyIcon(IconHandle icon) = 0;

  // BeginPaint, DrawTextA of the text over the client area with the given format, EndPaint.
  virtual void PaintText(WindowHandle window, const std::string& text, std::uint32_t format) = 0;
};

using ScopedIcon = Scoped<IWindowing, IconHandle, &IWindowing::DestroyIcon>;

}  // namespace keldran
