// The DeleteRegKeys setting: which items are refused, how trees go, and how long a stuck key is
// tried.
#include <gtest/gtest.h>

#include <string>

#include "support/host_fixture.h"

namespace keldran {
namespace {

using testing::CountOf;
using testing::FindLine;
using testing::LoggedEvent;

constexpr RegKey kHkcu = reg_root::kCurrentUser;
constexpr RegKey kHklm = reg_root::kLocalMachine;

class RegistryKeyDeletionTest : public testing::HostFixture {
 protected:
  RegistryKeyDeletionTest() {
    ConfigureGrid();
    UseLogFile();
  }

  // Deletes the keys of the DeleteRegKeys setting; returns the virtual milliseconds it took.
  std::uint64_t Delete(const std::string& setting) {
    const auto before = fake.clock.Elapsed();
    config.DeleteRegKeys = setting;
    host.keyDeletion.DeleteRegistryKeys(config.DeleteRegKeys);
    return fake.clock.Elapsed() - before;
  }
  static std::string Deleted(const std::string& path) {
    return "#Grid# Deleted registry key: " + path;
  }
};

// A refused item makes no registry call; empty items and a root alone are skipped.
TEST_F(RegistryKeyDeletionTest, EachItemNamesARootAndAKeyOrIsRefusedAndTheRestGoesOn) {
  const std::string noRoot = "\n\nRoot must be HKLM\\ or HKCU\\";
  const std::string noName = "\n\nA key name must follow the root's backslash";
  const struct {
    const char* item;
    bool fromHkcu, fromHklm;  // where Software\A goes
    std::string refusal;      // the event's text; empty: none
  } cases[] = {
      {"HKCU\\", false, false, ""},
      {"HKCU\\Software\\A", true, false, ""},
      {"HKLM\\Software\\A", false, true, ""},
      {"HKEY_LOCAL_MACHINE\\Software\\A", false, true, ""},
      {"hkcu\\Software\\A", false, false, "hkcu\\Software\\A" + noRoot},
      // The leading blank is the log record's, not the event's.
      {" HKCU\\Software\\A", false, false, "HKCU\\Software\\A" + noRoot},
      {"HKCU\\\\", false, false, "HKCU\\\\" + noName},
      {"HKCU\\\\Software\\A", false, false, "HKCU\\\\Software\\A" + noName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    fake.eventLog.Clear();
    fake.registry.PutKey(kHkcu, "Software\\A");
    fake.registry.PutKey(kHklm, "Software\\A");
    const int calls = fake.faults.Calls("RegDeleteKey") + fake.faults.Calls("RegOpenKeyEx");
    EXPECT_EQ(Delete(c.item), 0u);
    EXPECT_EQ(fake.registry.KeyExists(kHkcu, "Software\\A"), !c.fromHkcu);
    EXPECT_EQ(fake.registry.KeyExists(kHklm, "Software\\A"), !c.fromHklm);
    if (!c.fromHkcu && !c.fromHklm) {
      EXPECT_EQ(fake.faults.Calls("RegDeleteKey") + fake.faults.Calls("RegOpenKeyEx"), calls);
    }
    const LoggedEvent refused{event_type::kError, category::kStartup, c.refusal};
    EXPECT_EQ(Logged(120), c.refusal.empty() ? std::vector<LoggedEvent>{} : std::vector{refused});
  }
  fake.registry.PutKey(kHklm, "Software\\B");
  Delete(";HKCU\\Software\\Missing;;HKCR\\x;HKLM\\Software\\B");
  EXPECT_FALSE(fake.registry.KeyExists(kHklm, "Software\\B"));
  EXPECT_NE(FindLine(LogText(), "#Grid# Deleted registry key (not found): Software\\Missing"),
            std::string::npos);  // a missing key is only logged
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

TEST_F(RegistryKeyDeletionTest, DeepTreeGoesChildrenFirstWithOneLinePerKey) {
  fake.registry.PutKey(kHkcu, "Software\\Tree\\a\\a1\\x");
  fake.registry.PutKey(kHkcu, "Software\\Tree\\a\\a2");
  fake.registry.PutString(kHkcu, "Software\\Tree\\b", "v", "value");
  fake.registry.PutKey(kHkcu, "Software\\Treehouse");
  // One pass, no retry; the trailing backslash is not doubled in the children's paths.
  EXPECT_EQ(Delete("HKCU\\Software\\Tree\\"), 0u);
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\Tree"));
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\Treehouse"));
  // A key with subkeys cannot go itself: that the tree is gone means children went first.
  const std::string log = LogText();
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\a\\a1\\x")), std::string::npos) << log;
  EXPECT_EQ(CountOf(log, "Deleted registry key: "), 6u);
  EXPECT_TRUE(fake.eventLog.Events().empty());
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

TEST_F(RegistryKeyDeletionTest, SubkeyNamedOutsideTheCodePageIsDeletedAtOnce) {
  fake.registry.PutKey(kHkcu, u"Software\\Tree\\\u043a\u043b\u044e\u0447\\deeper");
  fake.registry.PutKey(kHkcu, "Software\\Tree\\plain");
  EXPECT_EQ(Delete("HKCU\\Software\\Tree"), 0u);  // no retry
  EXPECT_FALSE(fake.registry.KeyExists(kHkcu, "Software\\Tree"));
  EXPECT_TRUE(fake.eventLog.Events().empty());
  // The log spells the name as the code page can.
  const std::string log = LogText();
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\????\\deeper")), std::string::npos) << log;
  EXPECT_NE(FindLine(log, Deleted("Software\\Tree\\????")), std::string::npos) << log;
  EXPECT_EQ(log.find("(not found)"), std::string::npos) << log;
}

TEST_F(RegistryKeyDeletionTest,
       KeyThatKeepsFailingIsRetriedForAboutTenSecondsThenWarnedAndSkipped) {
  fake.registry.PutKey(kHkcu, "Software\\Stuck");
  fake.faults.Fail("RegDeleteKey", win32_error::kAccessDenied, -1);
  fake.clock.Advance(500);  // the first try is made half-way through a second
  const auto spent = Delete("HKCU\\Software\\Stuck");
  // Retried until the whole second passes the first try's plus ten, plus one pause at most.
  EXPECT_GE(spent, 10500u);
  EXPECT_LE(spent, 10500u + 256u);
  const LoggedEvent warned{event_type::kWarning, category::kStartup,
                           "Software\\Stuck\n\nRegDeleteKey returned:  Error: 5 (0x00000005) "
                           "Access denied."};
  EXPECT_EQ(Logged(120), std::vector{warned});
  EXPECT_TRUE(fake.registry.KeyExists(kHkcu, "Software\\Stuck"));
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace keldran
