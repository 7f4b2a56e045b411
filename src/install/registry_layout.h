#pragma once
// Registry entries written from typed data: a tree of keys, each with its marker, its default
// value and its named values. Nothing here parses or expands text, so a value lands in the
// registry byte for byte, whatever quotes, braces, percent signs or blanks it holds.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace keldran {

enum class KeyMarker {
  kNone,
  kNoRemove,     // never deleted at removal
  kForceRemove,  // deleted with its subtree before it is written, unless its name is protected
};

struct LayoutValue {
  std::string name;  // empty: the key's default value, which removal leaves to the key
  RegType type = RegType::kSz;
  std::string text;         // kSz
  std::int64_t number = 0;  // kDword; a number outside 0 to 0xFFFFFFFF fails its block

  static LayoutValue Text(std::string name, std::string text) {
    return {std::move(name), RegType::kSz, std::move(text), 0};
  }
  static LayoutValue Number(std::string name, std::int64_t number) {
    return {std::move(name), RegType::kDword, {}, number};
  }
};

struct LayoutKey {
  std::string name;  // one key name (no backslash)
  KeyMarker marker = KeyMarker::kNone;
  std::vector<LayoutValue> values;
  std::vector<LayoutKey> subkeys;
};

// The keys written under one root in one go.
using LayoutBlock = std::vector<LayoutKey>;

// Opens or creates every key and sets its values, parents first. A block that fails part-way is
// removed again as far as it got; the result is then false.
[[nodiscard]] bool RegisterLayout(IRegistry& registry, RegKey root, const LayoutBlock& block);

// Deletes the key below the parent with everything below it, in the parent's registry view (one
// of reg_access::kView64 and kView32, or 0); false when something stayed.
bool DeleteKeyTree(IRegistry& registry, RegKey parent, const std::string& name,
                   std::uint32_t view = 0);

// Takes a block away, children before their parent: named values are deleted, then the key when
// it is not NoRemove and no subkeys are left (another component's, say). Keys that do not exist
// are skipped with everything below them.
void UnregisterLayout(IRegistry& registry, RegKey root, const LayoutBlock& block);

}  // namespace keldran
