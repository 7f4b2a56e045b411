#pragma once
// Small text helpers that every component shares.

#include <string>
#include <string_view>

#include "platform/types.h"

namespace keldran {

// Equal but for the case of ASCII letters, as Windows compares names (of keys, INI entries,
// variables, options); other bytes must match exactly.
constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

constexpr bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// UTF-8, as JSON readers and Prometheus expect text; a lone surrogate becomes U+FFFD.
std::string Utf8FromWide(const WideString& text);

}  // namespace keldran
