#include <algorithm>
#include <vector>

#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

class RegistryContractTest : public ContractTest {
 protected:
  RegistryContractTest() : base_(backend_->ScratchRegistryPath()) {}

  // Creates the key under the scratch path and returns it open.
  ScopedRegKey Create(const std::string& subPath, bool* created = nullptr) {
    ScopedRegKey key(p_.registry);
    EXPECT_EQ(p_.registry.CreateKey(reg_root::kCurrentUser, base_ + subPath, reg_access::kAllAccess,
                                    key.put(), created),
              0u)
        << subPath;
    return key;
  }

  Win32Error Open(const std::string& subPath) {
    ScopedRegKey key(p_.registry);
    return p_.registry.OpenKey(reg_root::kCurrentUser, base_ + subPath, reg_access::kRead,
                               key.put());
  }

  std::string base_;
};

TEST_F(RegistryContractTest, CreateMakesMissingParentsTellsWhetherItCreatedAndIgnoresCase) {
  bool created = false;
  Create("\\Outer\\MixedCase", &created);
  EXPECT_TRUE(created);
  EXPECT_EQ(Open("\\Outer"), 0u);
  Create("\\Outer\\MixedCase", &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(Open("\\OUTER\\MIXEDCASE"), 0u);
  EXPECT_EQ(Open("\\Nowhere"), win32_error::kFileNotFound);
}

TEST_F(RegistryContractTest, ValuesKeepTheirTypeAndBytesAndMissingOnesAreNotFound) {
  ScopedRegKey key = Create("");
  RegType type = RegType::kNone;
  std::vector<std::uint8_t> data;
  EXPECT_EQ(p_.registry.QueryValue(key.get(), "Missing", &type, &data), win32_error::kFileNotFound);
  EXPECT_EQ(p_.registry.DeleteValue(key.get(), "Missing"), win32_error::kFileNotFound);

  ASSERT_EQ(SetStringValue(p_.registry, key.get(), "Text", "hello"), 0u);
  ASSERT_EQ(SetStringValue(p_.registry, key.get(), "Expand", "%WINDIR%\\x", RegType::kExpandSz),
            0u);
  ASSERT_EQ(SetDwordValue(p_.registry, key.get(), "Number", 0x12345678u), 0u);
  ASSERT_EQ(p_.registry.QueryValue(key.get(), "text", &type, &data), 0u);
  EXPECT_EQ(type, RegType::kSz);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("hello", 6));  // with its NUL

  ASSERT_EQ(p_.registry.QueryValue(key.get(), "Expand", &type, &data), 0u);
  EXPECT_EQ(type, RegType::kExpandSz);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("%WINDIR%\\x", 11));

  std::uint32_t number = 0;
  ASSERT_EQ(QueryDwordValue(p_.registry, key.get(), "Number", &number), 0u);
  EXPECT_EQ(number, 0x12345678u);

  ASSERT_EQ(p_.registry.DeleteValue(key.get(), "Text"), 0u);
  EXPECT_EQ(p_.registry.QueryValue(key.get(), "Text", &type, &data), win32_error::kFileNotFound);
}

TEST_F(RegistryContractTest, SubkeysAreEnumeratedByIndexUntilNoMoreItems) {
  ScopedRegKey key = Create("");
  for (const char* name : {"Charlie", "alpha", "Bravo"}) Create(std::string("\\") + name);
  std::vector<std::string> names;
  std::string name;
  Win32Error e = 0;
  for (std::uint32_t i = 0; (e = p_.registry.EnumKey(key.get(), i, &name)) == 0; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ(e, win32_error::kNoMoreItems);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Bravo", "Charlie"}));
}

TEST_F(RegistryContractTest, KeysWithoutSubkeysAreDeletedByPathsNotBeginningWithABackslash) {
  Create("\\Outer\\Inner");
  Create("\\Outer\\Other");
  ScopedRegKey base = Create("");
  EXPECT_EQ(p_.registry.DeleteKey(base.get(), "Outer"), win32_error::kAccessDenied);
  EXPECT_EQ(Open("\\Outer\\Inner"), 0u);
  ScopedRegKey key(p_.registry);
  // Were it taken as the parent itself, deleting its subtree would empty the parent.
  EXPECT_EQ(p_.registry.OpenKey(base.get(), "\\", reg_access::kRead, key.put()),
            win32_error::kBadPathname);
  EXPECT_EQ(p_.registry.CreateKey(base.get(), "\\Outer", reg_access::kRead, key.put()),
            win32_error::kBadPathname);
  EXPECT_EQ(p_.registry.DeleteKey(base.get(), "\\"), win32_error::kBadPathname);
  EXPECT_EQ(p_.registry.DeleteKey(base.get(), "Outer\\Other"), 0u);
  // Empty names inside a path are passed over.
  EXPECT_EQ(Open("\\Outer\\\\Inner\\"), 0u);
  EXPECT_EQ(p_.registry.DeleteKey(base.get(), "Outer\\\\Inner"), 0u);
  EXPECT_EQ(Open("\\Outer\\Inner"), win32_error::kFileNotFound);
  EXPECT_EQ(p_.registry.DeleteKey(base.get(), "OUTER"), 0u);
  EXPECT_EQ(Open("\\Outer"), win32_error::kFileNotFound);
  EXPECT_EQ(p_.registry.DeleteKey(base.get(), "Outer"), win32_error::kFileNotFound);
}

}  // namespace
}  // namespace keldran::contract
