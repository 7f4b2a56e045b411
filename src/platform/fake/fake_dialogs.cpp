#include "platform/fake/fake_dialogs.h"

namespace keldran::fake {

FakeDialogs::FakeDialogs(FaultPlan& faults, FakeSystemTexts& texts) : FakeArea(faults, texts) {}

bool FakeDialogs::NotifyIcon(std::uint32_t operation, const NotifyIconData& data) {
  std::lock_guard lock(mutex_);
  calls_.push_back(NotifyCall{operation, data});
  if (Injected("Shell_NotifyIcon")) return false;
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
  if (Injected("MessageBox")) return 0;
  if (boxAnswers_.empty()) return message_box::kIdOk;
  int answer = boxAnswers_.front();
  boxAnswers_.pop_front();
  return answer;
}

MenuHandle FakeDialogs::CreatePopupMenu() {
  std::lock_guard lock(mutex_);
  if (Injected("CreatePopupMenu")) return MenuHandle{};
  MenuHandle menu{nextMenu_};
  nextMenu_ += 4;
  menus_[menu.value] = ShownMenu{};
  return menu;
}

bool FakeDialogs::AppendMenuItem(MenuHandle menu, std::uint32_t id, const std::string& text) {
  std::lock_guard lock(mutex_);
  auto it = menus_.find(menu.value);
  if (it == menus_.end()) return false;
  it->second.items.push_back(MenuItem{id, text});
  return true;
}

bool FakeDialogs::SetDefaultMenuItem(MenuHandle menu, std::uint32_t id) {
  std::lock_guard lock(mutex_);
  auto it = menus_.find(menu.value);
  if (it == menus_.end()) return false;
  it->second.defaultItem = id;
  return true;
}

std::uint32_t FakeDialogs::TrackPopupMenu(MenuHandle menu, CursorPosition, WindowHandle owner) {
  std::lock_guard lock(mutex_);
  auto it = menus_.find(menu.value);
  if (it == menus_.end()) return 0;
  it->second.owner = owner;
  shown_.push_back(it->second);
  if (menuChoices_.empty()) return 0;
  std::uint32_t choice = menuChoices_.front();
  menuChoices_.pop_front();
  return choice;
}

void FakeDialogs::DestroyMenu(MenuHandle menu) {
  std::lock_guard lock(mutex_);
  menus_.erase(menu.value);
}

CursorPosition FakeDialogs::GetCursorPos() { return CursorPosition{640, 480}; }

bool FakeDialogs::SetForegroundWindow(WindowHandle window) {
  std::lock_guard lock(mutex_);
  foreground_.push_back(window);
  return true;
}

std::int16_t FakeDialogs::GetKeyState(int virtualKey) {
  std::lock_guard lock(mutex_);
  return keysDown_.count(virtualKey) ? static_cast<std::int16_t>(-128) : 0;
}

std::vector<FakeDialogs::NotifyCall> FakeDialogs::NotifyCalls() const {
  std::lock_guard lock(mutex_);
  return calls_;
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

bool FakeDialogs::IconAdded(WindowHandle window, std::uint32_t id) const {
  std::lock_guard lock(mutex_);
  return added_.count({window, id}) != 0;
}

std::vector<FakeDialogs::Box> FakeDialogs::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void FakeDialogs::QueueBoxAnswer(int answer) {
  std::lock_guard lock(mutex_);
  boxAnswers_.push_back(answer);
}

std::vector<FakeDialogs::ShownMenu> FakeDialogs::Menus() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void FakeDialogs::QueueMenuChoice(std::uint32_t command) {
  std::lock_guard lock(mutex_);
  menuChoices_.push_back(command);
}

void FakeDialogs::SetKeyDown(int virtualKey, bool down) {
  std::lock_guard lock(mutex_);
  if (down) {
    keysDown_.insert(virtualKey);
  } else {
    keysDown_.erase(virtualKey);
  }
}

std::size_t FakeDialogs::OpenMenuCount() const {
  std::lock_guard lock(mutex_);
  return menus_.size();
}

std::vector<WindowHandle> FakeDialogs::ForegroundRequests() const {
  std::lock_guard lock(mutex_);
  return foreground_;
}

}  // namespace keldran::fake
