#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace keldran {
namespace {

using testing::CountOf;
using testing::FindLine;

constexpr RegKey kHkcu = reg_root::kCurrentUser;
constexpr RegKey kHklm = reg_root::kLocalMachine;

class RegistryKeyDeletionTest : public testing::HostFixture {
 protected:
  RegistryKeyDeletionTest() {
    ConfigureGrid();
    UseLogFile();
  }

  // The log line of one deleted key, as the day file holds it.
  static std::string Deleted(const std::string& path) {
    return "#Grid# Deleted registry key: " + path;
  }
};

TEST_F(RegistryKeyDeletionTest, EmptySettingTouchesNothing) {
  fake.registry.PutKey(kHkcu, "Software\\Keep");
  config.DeleteRegKeys = "";
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
  EXPECT_EQ(fake.faults.Calls("RegDeleteKey"), 0);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_EQ(LogText(), "");
}

TEST_F(RegistryKeyDeletionTest, EveryRootSpellingSelectsItsRootAndEmptyItemsAreSkipped) {
  for (const char* path : {"Software\\A", "Software\\B", "Software\\C", "Software\\D"}) {
    fake.registry.PutKey(kHkcu, path);
    fake.registry.PutKey(kHklm, path);
  }
  config.DeleteRegKeys =
      ";HKCU\\Software\\A;;HKLM\\Software\\B;HKEY_CURRENT_USER\\Software\\C;"
      "HKEY_LOCAL_MACHINE\\Software\\D;";
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);

  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\A"));
  EXPECT_TRUE(fake.registry.KeyExists(kHklm, "Software\\A"));
  EXPECT_FALSE(fake.registry.KeyExists(kHklm, "Software\\B"));
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\B"));
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\C"));
  EXPECT_TRUE(fake.registry.KeyExists(kHklm, "Software\\C"));
  EXPECT_FALSE(fake.registry.KeyExists(kHklm, "Software\\D"));
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\D"));
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_EQ(CountOf(LogText(), "Deleted registry key: "), 4u);
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

TEST_F(RegistryKeyDeletionTest, ItemsWithoutAnExactRootAreRejectedAndTheRestGoesOn) {
  fake.registry.PutKey(kHkcu, "Software\\A");
  fake.registry.PutKey(kHkcu, "Software\\B");
  config.DeleteRegKeys = "hkcu\\Software\\A; HKCU\\Software\\A;HKCR\\Software\\A;HKCU\\Software\\B";
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);

  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\A"));
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\B"));
  const auto events = Events(120);
  ASSERT_EQ(events.size(), 3u);
  const char* items[] = {"hkcu\\Software\\A", " HKCU\\Software\\A", "HKCR\\Software\\A"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].type, event_type::kError);
    EXPECT_EQ(events[i].category, category::kStartup);
    // The leading blank of the second item is the log record's, not the event's.
    const std::string item = i == 1 ? std::string(items[i] + 1) : items[i];
    ASSERT_EQ(events[i].strings.size(), 1u);
    EXPECT_EQ(events[i].strings[0], item + "\n\nRoot must be HKLM\\ or HKCU\\");
  }
}

TEST_F(RegistryKeyDeletionTest, PrefixAloneIsSkippedWithoutAMessage) {
  config.DeleteRegKeys = "HKCU\\;HKEY_LOCAL_MACHINE\\";
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
  EXPECT_EQ(fake.faults.Calls("RegDeleteKey"), 0);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software"));
}

TEST_F(RegistryKeyDeletionTest, PathBeginningWithABackslashIsRejectedAtOnceAndTouchesNothing) {
  fake.registry.PutKey(kHkcu, "Software\\A");
  config.DeleteRegKeys = "HKCU\\\\;HKLM\\\\\\;HKCU\\\\Software\\A";
  const auto before = fake.clock.Elapsed();
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);

  EXPECT_EQ(fake.clock.Elapsed(), before);  // no retries
  EXPECT_EQ(fake.faults.Calls("RegDeleteKey"), 0);
  EXPECT_EQ(fake.faults.Calls("RegOpenKeyEx"), 0);
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\A"));
  EXPECT_TRUE(fake.registry.KeyExists(kHklm, "SYSTEM\\CurrentControlSet"));
  const auto events = Events(120);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2].type, event_type::kError);
  EXPECT_EQ(events[2].strings.at(0),
            "HKCU\\\\Software\\A\n\nA key name must follow the root's backslash");
}

TEST_F(RegistryKeyDeletionTest, DeepTreeGoesChildrenFirstWithOneLinePerKey) {
  fake.registry.PutKey(kHkcu, "Software\\Tree\\a\\a1\\x");
  fake.registry.PutKey(kHkcu, "Software\\Tree\\a\\a2");
  fake.registry.PutString(kHkcu, "Software\\Tree\\b", "v", "value");
  fake.registry.PutKey(kHkcu, "Software\\Treehouse");
  config.DeleteRegKeys = "HKCU\\Software\\Tree";
  const auto before = fake.clock.Elapsed();
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);

  EXPECT_EQ(fake.clock.Elapsed(), before);  // one pass, no retry needed
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\Tree"));
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\Treehouse"));
  const std::string log = LogText();
  const char* order[] = {"Software\\Tree\\a\\a1\\x", "Software\\Tree\\a\\a1",
                         "Software\\Tree\\a\\a2",    "Software\\Tree\\a",
                         "Software\\Tree\\b",        "Software\\Tree"};
  std::size_t previous = 0;
  for (const char* path : order) {
    const std::size_t at = FindLine(log, Deleted(path));
    ASSERT_NE(at, std::string::npos) << path;
    EXPECT_GE(at, previous) << path;
    previous = at;
  }
  EXPECT_EQ(CountOf(log, "Deleted registry key: "), 6u);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

TEST_F(RegistryKeyDeletionTest, SubkeyNamedOutsideTheCodePageIsDeletedAtOnce) {
  fake.registry.PutKey(kHkcu, u"Software\\Tree\\\u043a\u043b\u044e\u0447\\deeper");
  fake.registry.PutKey(kHkcu, "Software\\Tree\\plain");
  config.DeleteRegKeys = "HKCU\\Software\\Tree";
  const auto before = fake.clock.Elapsed();
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);

  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\Tree"));
  EXPECT_EQ(fake.clock.Elapsed(), before);  // no retry
  EXPECT_TRUE(fake.eventLog.Events().empty());
  // The log spells the name as the code page can.
  const std::string log = LogText();
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\????\\deeper")), std::string::npos) << log;
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\????")), std::string::npos) << log;
  EXPECT_EQ(log.find("(not found)"), std::string::npos) << log;
}

TEST_F(RegistryKeyDeletionTest, TrailingBackslashIsNotDoubledInChildPaths) {
  fake.registry.PutKey(kHkcu, "Software\\Tree\\a\\b");
  config.DeleteRegKeys = "HKCU\\Software\\Tree\\";
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\Tree"));
  const std::string log = LogText();
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\a\\b")), std::string::npos);
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\a")), std::string::npos);
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\")), std::string::npos);
  EXPECT_EQ(log.find("\\\\"), std::string::npos);
}

TEST_F(RegistryKeyDeletionTest, MissingKeyIsLoggedAsNotFoundWithoutAnEvent) {
  config.DeleteRegKeys = "HKCU\\Software\\Missing";
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
  EXPECT_NE(FindLine(LogText(), "#Grid# Deleted registry key (not found): Software\\Missing"),
            std::string::npos);
  EXPECT_TRUE(fake.eventLog.Events().empty());
}

TEST_F(RegistryKeyDeletionTest, KeyThatKeepsFailingIsRetriedForAboutTenSecondsThenWarned) {
  fake.registry.PutKey(kHkcu, "Software\\Stuck");
  fake.faults.Fail("RegDeleteKey", win32_error::kAccessDenied, -1);
  config.DeleteRegKeys = "HKCU\\Software\\Stuck";
  fake.clock.Advance(500);  // the first try is made half-way through a second
  const auto before = fake.clock.Elapsed();
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
  const auto spent = fake.clock.Elapsed() - before;

  // Retried while the whole-second time is not later than the first try's second plus ten:
  // until 10.5 s have passed here, plus at most one last pause.
  EXPECT_GE(spent, 10500u);
  EXPECT_LE(spent, 10500u + 256u);
  // Each try asks twice (the plain delete and the delete after the children); the pauses are
  // 256 ms at most.
  const int tries = fake.faults.Calls("RegDeleteKey") / 2;
  EXPECT_GE(tries * 256, static_cast<int>(spent));

  const auto events = Events(120);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, event_type::kWarning);
  EXPECT_EQ(events[0].category, category::kStartup);
  EXPECT_EQ(events[0].strings[0],
            "Software\\Stuck\n\nRegDeleteKey returned:  Error: 5 (0x00000005) Access denied.");
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\Stuck"));
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

TEST_F(RegistryKeyDeletionTest, RetriesStopAtTheFirstSuccess) {
  fake.registry.PutKey(kHkcu, "Software\\Busy\\child");
  fake.faults.Fail("RegDeleteKey", win32_error::kAccessDenied, 5);
  config.DeleteRegKeys = "HKCU\\Software\\Busy";
  const auto before = fake.clock.Elapsed();
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\Busy"));
  EXPECT_LT(fake.clock.Elapsed() - before, 1000u);
  EXPECT_TRUE(fake.eventLog.Events().empty());
}

TEST_F(RegistryKeyDeletionTest, KeyThatCannotBeOpenedIsWarnedAndTheNextItemIsStillDeleted) {
  fake.registry.PutKey(kHkcu, "Software\\Locked\\child");  // a subkey: needs opening
  fake.registry.PutKey(kHkcu, "Software\\Leaf");           // no subkey: deleted at once
  fake.faults.Fail("RegOpenKeyEx", win32_error::kAccessDenied, -1);
  config.DeleteRegKeys = "HKCU\\Software\\Locked;HKCU\\Software\\Leaf";
  host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);

  const auto events = Events(120);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, event_type::kWarning);
  EXPECT_EQ(events[0].strings[0],
            "Software\\Locked\n\nRegOpenKeyEx returned:  Error: 5 (0x00000005) Access denied.");
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\Locked\\child"));
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\Leaf"));
}

}  // namespace
}  // namespace keldran
