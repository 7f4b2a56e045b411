#include "platform/fake/fake_dialogs.h"

namespace keldran::fake {
namespace {

// The next answer of a test's script, or the given one once the script has run out.
template <class T>
T Next(std::deque<T>& script, T otherwise) {
  if (script.empty()) return otherwise;
  T next = script.front();
  script.pop_front();
  return next;
}

}  // namespace

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
  return Next(boxAnswers_, int{message_box::kIdOk});
}

MenuHandle FakeDialogs::CreatePopupMenu() {
  std::lock_guard lock(mutex_);
  MenuHandle menu{NewHandle()};
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
  return Next(menuChoices_, std::uint32_t{0});
}

void FakeDialogs::DestroyMenu(MenuHandle menu) {
  std::lock_guard lock(mutex_);
  menus_.erase(menu.value);
}

bool FakeDialogs::SetForegroundWindow(WindowHandle window) {
  std::lock_guard lock(mutex_);
  foreground_.push_back(window);
  return true;
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

void FakeDialogs::QueueBoxAnswer(int answer) {
  std::lock_guard lock(mutex_);
  boxAnswers_.push_back(answer);
}

void FakeDialogs::QueueMenuChoice(std::uint32_t command) {
  std::lock_guard lock(mutex_);
  menuChoices_.push_back(command);
}

void FakeDialogs::SetKeyDown(int virtualKey, bool down) {
  std::lock_guard lock(mutex_);
  down ? (void)keysDown_.insert(virtualKey) : (void)keysDown_.erase(virtualKey);
}

}  // namespace keldran::fake
