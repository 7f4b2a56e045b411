#include <gtest/gtest.h>

#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

TEST(DialogsTest, PopupMenuItemsAndTheirDefault) {
  Win32Platform backend;
  IDialogs& d = backend.platform().dialogs;
  ScopedMenu menu(d, d.CreatePopupMenu());
  ASSERT_TRUE(menu);
  ASSERT_TRUE(d.AppendMenuItem(menu.get(), 1, "Show Status"));
  ASSERT_TRUE(d.AppendMenuItem(menu.get(), 2, "Stop"));
  EXPECT_TRUE(d.SetDefaultMenuItem(menu.get(), 1));
  EXPECT_FALSE(d.SetDefaultMenuItem(menu.get(), 99));

  HMENU raw = reinterpret_cast<HMENU>(menu.get().value);
  EXPECT_EQ(::GetMenuItemCount(raw), 2);
  EXPECT_EQ(::GetMenuDefaultItem(raw, FALSE, 0), 1u);
  char text[32] = {};
  EXPECT_GT(::GetMenuStringA(raw, 2, text, sizeof text, MF_BYCOMMAND), 0);
  EXPECT_STREQ(text, "Stop");
}

}  // namespace
}  // namespace keldran::win32
