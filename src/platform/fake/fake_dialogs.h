#pragma once
// The notification area, message boxes and popup menus, recorded. Message boxes and menus
// answer from a script the test sets (OK and "no command" by default).

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/fake/fake_support.h"

namespace keldran::fake {

class FakeDialogs final : public IDialogs, private FakeArea {
 public:
  FakeDialogs(FaultPlan& faults, FakeSystemTexts& texts) : FakeArea(faults, texts) {}

  bool NotifyIcon(std::uint32_t operation, const NotifyIconData& data) override;
  int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                 std::uint32_t style) override;
  MenuHandle CreatePopupMenu() override;
  bool AppendMenuItem(MenuHandle menu, std::uint32_t id, const std::string& text) override;
  bool SetDefaultMenuItem(MenuHandle menu, std::uint32_t id) override;
  std::uint32_t TrackPopupMenu(MenuHandle menu, CursorPosition at, WindowHandle owner) override;
  void DestroyMenu(MenuHandle menu) override;
  void EndMenu() override {}  // the fake's menus answer at once: none is ever open
  CursorPosition GetCursorPos() override { return CursorPosition{640, 480}; }
  bool SetForegroundWindow(WindowHandle window) override;
  std::int16_t GetKeyState(int virtualKey) override;

  struct NotifyCall {
    std::uint32_t operation;
    NotifyIconData data;
  };
  struct Box {
    WindowHandle owner;
    std::string text, caption;
    std::uint32_t style;
  };
  struct MenuItem {
    std::uint32_t id;
    std::string text;
  };
  struct ShownMenu {
    std::vector<MenuItem> items;
    std::uint32_t defaultItem;
    WindowHandle owner;
  };

  std::vector<NotifyCall> NotifyCalls() const { return Locked(mutex_, calls_); }
  // The NIM_MODIFY calls that carried NIF_INFO: shown (or, without text, removed) balloons.
  std::vector<NotifyIconData> Balloons() const;
  bool IconAdded(WindowHandle window, std::uint32_t id) const {
    std::lock_guard lock(mutex_);
    return added_.count({window, id}) != 0;
  }
  std::vector<Box> Boxes() const { return Locked(mutex_, boxes_); }
  void QueueBoxAnswer(int answer);
  std::vector<ShownMenu> Menus() const { return Locked(mutex_, shown_); }
  void QueueMenuChoice(std::uint32_t command);
  void SetKeyDown(int virtualKey, bool down);
  std::size_t OpenMenuCount() const {
    std::lock_guard lock(mutex_);
    return menus_.size();
  }
  std::vector<WindowHandle> ForegroundRequests() const { return Locked(mutex_, foreground_); }

 private:
  mutable std::mutex mutex_;
  std::vector<NotifyCall> calls_;
  std::set<std::pair<WindowHandle, std::uint32_t>> added_;
  std::vector<Box> boxes_;
  std::deque<int> boxAnswers_;
  std::map<std::uintptr_t, ShownMenu> menus_;
  std::vector<ShownMenu> shown_;
  std::deque<std::uint32_t> menuChoices_;
  std::set<int> keysDown_;
  std::vector<WindowHandle> foreground_;
};

}  // namespace keldran::fake
