// Layouts written to and taken from the fake registry: the markers, the values' range and the
// block taken back when it fails part-way.
#include "install/registry_layout.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

constexpr RegKey kRoot = reg_root::kCurrentUser;

TEST(RegistryLayoutTest, ForceRemoveEmptiesAKeyFirstUnlessItIsASharedKeyOfTheSystem) {
  fake::FakePlatform fake;
  const struct {
    const char* name;
    bool emptied;
  } cases[] = {{"Grid", true},     {"clsid", false}, {"AppID", false},
               {"TypeLib", false}, {"CLSIE", true},  {"Mim", true}};
  for (const auto& c : cases) {
    const std::string old = std::string(c.name) + "\\Old";
    fake.registry.PutKey(kRoot, old + "\\Deeper");
    const LayoutBlock block = {{c.name, KeyMarker::kForceRemove, {}, {{"New", {}, {}, {}}}}};
    ASSERT_TRUE(RegisterLayout(fake.registry, kRoot, block)) << c.name;
    EXPECT_EQ(fake.registry.KeyExists(kRoot, old), !c.emptied) << c.name;
    EXPECT_TRUE(fake.registry.KeyExists(kRoot, std::string(c.name) + "\\New")) << c.name;
  }
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

TEST(RegistryLayoutTest, AFailedBlockIsTakenBackAndRemovalLeavesWhatOthersStillUse) {
  fake::FakePlatform fake;
  LayoutBlock block = {
      {"Shared",
       KeyMarker::kNoRemove,
       {},
       {{"Grid", KeyMarker::kNone, {LayoutValue::Number("Count", 0xFFFFFFFFll)}, {}}}},
      {"Own", KeyMarker::kNone, {LayoutValue::Text("", "default")}, {}}};
  for (std::int64_t outOfRange : {-1ll, 0x100000000ll}) {
    block.push_back({"Bad", KeyMarker::kNone, {LayoutValue::Number("N", outOfRange)}, {}});
    EXPECT_FALSE(RegisterLayout(fake.registry, kRoot, block)) << outOfRange;
    EXPECT_EQ(fake.registry.SubkeyNames(kRoot, ""),
              (std::vector<std::string>{"Shared", "Software"}))
        << outOfRange;
    EXPECT_FALSE(fake.registry.KeyExists(kRoot, "Shared\\Grid")) << outOfRange;
    block.pop_back();
  }
  ASSERT_TRUE(RegisterLayout(fake.registry, kRoot, block));
  EXPECT_EQ(fake.registry.DwordValue(kRoot, "Shared\\Grid", "Count"), 0xFFFFFFFFu);
  fake.registry.PutKey(kRoot, "Own\\Other");  // another component's
  UnregisterLayout(fake.registry, kRoot, block);
  EXPECT_EQ(fake.registry.SubkeyNames(kRoot, ""),
            (std::vector<std::string>{"Own", "Shared", "Software"}));
  EXPECT_FALSE(fake.registry.KeyExists(kRoot, "Shared\\Grid"));
  EXPECT_EQ(fake.registry.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace keldran
