#include "platform/fake/fake_dialogs.h"

namespace keldran::fake {
bool FakeDialogs::NotifyIcon(std::uint32_t operation, const NotifyIconData& data) {
  std::lock_guard lock(mutex_);
  calls_.push_back(NotifyCall{operation, data});
  const auto key = std::make_pair(data.window, data.id);
  switch (operation) {
    case notify_icon::kAdd:
      if (added_.count(key)) return false;
      added_.insert(key);
      return true;
    case notify_icon::kDelete:
      return added_.erase(key) != 0;
    default:
      return added_.count(key) != 0;  // modify and set-version need an icon
  }
}

int FakeDialogs::MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                            std::uint32_t style) {
  std::lock_guard lock(mutex_);
  boxes_.push_back(Box{owner, text, caption, style});
  if (boxAnswers_.empty()) return message_box::kIdOk;
  const int answer = boxAnswers_.front();
  boxAnswers_.pop_front();
  return answer;
}

MenuHandle FakeDialogs::CreatePopupMenu() {
  std::lock_guard lock(mutex_);
  MenuHandle menu{NewHandle()};
  menus_[menu.value] = ShownMenu{};
  return menu;
}

// Menus are only ever used through handles CreatePopupMenu gave: at() fails loudly otherwise.
bool FakeDialogs::AppendMenuItem(MenuHandle menu, std::uint32_t id, const std::string& text) {
  std::lock_guard lock(mutex_);
  menus_.at(menu.value).items.push_back(MenuItem{id, text});
  return true;
}

std::uint32_t FakeDialogs::TrackPopupMenu(MenuHandle menu, CursorPosition, WindowHandle) {
  std::lock_guard lock(mutex_);
  shown_.push_back(menus_.at(menu.value));
  return menuChoice_;
}

void FakeDialogs::DestroyMenu(MenuHandle menu) {
  std::lock_guard lock(mutex_);
  menus_.erase(menu.value);
}

std::int16_t FakeDialogs::GetKeyState(int virtualKey) {
  std::lock_guard lock(mutex_);
  return keysDown_.count(virtualKey) ? static_cast<std::int16_t>(-128) : 0;
}

std::vector<NotifyIconData> FakeDialogs::Balloons() const {
  std::lock_guard lock(mutex_);
  std::vector<NotifyIconData> out;
  for (const auto& call : calls_) {
    if (call.operation == notify_icon::kModify && (call.data.flags & notify_icon::kFlagInfo))
      out.push_back(call.data);
  }
  return out;
}

void FakeDialogs::SetKeyDown(int virtualKey, bool down) {
  std::lock_guard lock(mutex_);
  down ? (void)keysDown_.insert(virtualKey) : (void)keysDown_.erase(virtualKey);
}

void FakeDialogs::SetMenuChoice(std::uint32_t command) {
  std::lock_guard lock(mutex_);
  menuChoice_ = command;
}

void FakeDialogs::QueueBoxAnswer(int answer) {
  std::lock_guard lock(mutex_);
  boxAnswers_.push_back(answer);
}

}  // namespace keldran::fake
