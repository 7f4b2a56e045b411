#pragma once
// The notification area, message boxes and popup menus, recorded. Every box answers OK and every
// menu is dismissed.

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
  bool SetDefaultMenuItem(MenuHandle, std::uint32_t) override { return true; }
  std::uint32_t TrackPopupMenu(MenuHandle menu, CursorPosition at, WindowHandle owner) override;
  void DestroyMenu(MenuHandle menu) override;
  void EndMenu() override {}  // the fake's menus answer at once: none is ever open
  CursorPosition GetCursorPos() override { return CursorPosition{640, 480}; }
  bool SetForegroundWindow(WindowHandle) override { return true; }
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
  };

  std::vector<NotifyCall> NotifyCalls() const { return Locked(mutex_, calls_); }
  // The NIM_MODIFY calls that carried NIF_INFO: shown (or, without text, removed) balloons.
  std::vector<NotifyIconData> Balloons() const;
  std::vector<Box> Boxes() const { return Locked(mutex_, boxes_); }
  std::vector<ShownMenu> Menus() const { return Locked(mutex_, shown_); }
  void SetKeyDown(int virtualKey, bool down);
  // What the user picks: every menu gives `command`; boxes answer from the queue, then OK.
  void SetMenuChoice(std::uint32_t command);
  void QueueBoxAnswer(int answer);

 private:
  mutable std::mutex mutex_;
  std::vector<NotifyCall> calls_;
  std::set<std::pair<WindowHandle, std::uint32_t>> added_;
  std::vector<Box> boxes_;
  std::map<std::uintptr_t, ShownMenu> menus_;
  std::vector<ShownMenu> shown_;
  std::set<int> keysDown_;
  std::uint32_t menuChoice_ = 0;  // dismissed
  std::deque<int> boxAnswers_;
};

}  // namespace keldran::fake
