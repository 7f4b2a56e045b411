#include "config/ini_keys.h"

#include <algorithm>
#include <string_view>

#include "log/text.h"

namespace keldran {

std::vector<std::string> UnknownServiceKeys(const std::string& section) {
  std::vector<std::string> unknown;
  std::string_view rest = section;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\0'), rest.size());
    std::string_view key = rest.substr(0, std::min(rest.find('='), end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    const std::size_t first = key.find_first_not_of(" \t");
    if (first == std::string_view::npos || key[first] == ';') continue;
    key = key.substr(first, key.find_last_not_of(" \t") - first + 1);
    const bool known =
        std::any_of(std::begin(kServiceKeys), std::end(kServiceKeys),
                    [&](const IniKey& k) { return EqualsIgnoringCase(k.name, key); });
    if (!known) unknown.emplace_back(key);
  }
  return unknown;
}

}  // namespace keldran
