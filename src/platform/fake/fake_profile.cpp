#include "platform/fake/fake_profile.h"

#include <vector>

#include "platform/fake/fake_support.h"

namespace keldran::fake::profile {
namespace {

struct Entry {
  std::string key;
  std::optional<std::string> value;  // none for a line without "="
  bool comment = false;              // a ";" line: found by its exact name, never listed
};

struct Section {
  std::string name;
  std::vector<Entry> entries;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && (IsBlank(s[e - 1]) || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

std::vector<Section> Parse(const std::string& text) {
  std::vector<Section> sections;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line[0] == '[') {
      std::size_t close = line.find(']');
      std::string name = close == std::string::npos ? line.substr(1) : line.substr(1, close - 1);
      sections.push_back(Section{Trim(name), {}});
      continue;
    }
    if (sections.empty()) continue;
    const bool comment = line[0] == ';';
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
      sections.back().entries.push_back(Entry{line, std::nullopt, comment});
    } else {
      sections.back().entries.push_back(
          Entry{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), comment});
    }
  }
  return sections;
}

const Section* FindSection(const std::vector<Section>& sections, const std::string& name) {
  const std::string folded = FoldCase(name);
  for (const auto& s : sections) {
    if (FoldCase(s.name) == folded) return &s;
  }
  return nullptr;
}

// A single string cut to the buffer: at most size - 1 characters.
std::uint32_t CopyString(const std::string& value, std::uint32_t bufferSize, std::string* out) {
  if (bufferSize == 0) {
    out->clear();
    return 0;
  }
  *out = value.substr(0, bufferSize - 1);
  return static_cast<std::uint32_t>(out->size());
}

// A list of NUL-terminated strings ended by a second NUL; when it does not fit, the last string
// that fits is cut, the count is size - 2 and the result holds that many characters.
std::uint32_t CopyList(const std::vector<std::string>& items, std::uint32_t bufferSize,
                       std::string* out) {
  std::string all;
  for (const auto& item : items) all += item + '\0';
  out->clear();
  if (bufferSize == 0) return 0;
  if (all.size() + 1 <= bufferSize) {
    *out = all;
    return static_cast<std::uint32_t>(all.size());
  }
  if (bufferSize < 2) return 0;
  *out = all.substr(0, bufferSize - 2);
  return bufferSize - 2;
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

std::uint32_t GetString(const std::optional<std::string>& fileText,
                        const std::optional<std::string>& section,
                        const std::optional<std::string>& key, const std::string& defaultValue,
                        std::uint32_t bufferSize, std::string* out) {
  const auto sections = fileText ? Parse(*fileText) : std::vector<Section>{};
  if (!section) {
    std::vector<std::string> names;
    for (const auto& s : sections) names.push_back(s.name);
    return CopyList(names, bufferSize, out);
  }
  const Section* found = FindSection(sections, *section);
  if (!key) {
    std::vector<std::string> names;
    if (found) {
      for (const auto& e : found->entries) {
        if (!e.comment) names.push_back(e.key);
      }
    }
    return CopyList(names, bufferSize, out);
  }
  if (found) {
    const std::string folded = FoldCase(*key);
    for (const auto& e : found->entries) {
      if (FoldCase(e.key) == folded)
        return CopyString(Unquote(e.value.value_or("")), bufferSize, out);
    }
  }
  std::string def = defaultValue;
  while (!def.empty() && def.back() == ' ') def.pop_back();
  return CopyString(def, bufferSize, out);
}

std::uint32_t GetInt(const std::optional<std::string>& fileText, const std::string& section,
                     const std::string& key, std::int32_t defaultValue) {
  std::string value;
  const std::string marker("\x01");
  GetString(fileText, section, key, marker, 1024, &value);
  // A missing key and an empty value both give the default.
  if (value == marker || value.empty()) return static_cast<std::uint32_t>(defaultValue);
  std::size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  unsigned base = 10;
  if (i + 1 < value.size() && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  std::uint32_t result = 0;
  for (; i < value.size(); ++i) {
    char c = value[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    result = result * base + digit;
  }
  return negative ? 0u - result : result;
}

std::uint32_t GetSection(const std::optional<std::string>& fileText, const std::string& section,
                         std::uint32_t bufferSize, std::string* out) {
  const auto sections = fileText ? Parse(*fileText) : std::vector<Section>{};
  std::vector<std::string> lines;
  if (const Section* found = FindSection(sections, section)) {
    for (const auto& e : found->entries) {
      if (!e.comment) lines.push_back(e.value ? e.key + "=" + *e.value : e.key);
    }
  }
  return CopyList(lines, bufferSize, out);
}

}  // namespace keldran::fake::profile
