#include "config/client_settings.h"

#include <cerrno>
#include <cstdlib>

#include "config/service_config.h"
#include "log/text.h"

namespace keldran {
namespace {

constexpr const char* kEnvironmentSection = "Environment";
// Environment variables may be this long; the section is read with room for several.
constexpr std::size_t kMaxVariable = 32767;
constexpr std::uint32_t kSectionBuffer = 65536;
constexpr unsigned kProcessors = 64;

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The comma-separated items of a value, each trimmed; an empty value has none.
std::vector<std::string> Items(const std::string& text) {
  std::vector<std::string> items;
  if (Trimmed(text).empty()) return items;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t comma = text.find(',', pos);
    items.push_back(Trimmed(text.substr(pos, comma == std::string::npos ? comma : comma - pos)));
    if (comma == std::string::npos) return items;
    pos = comma + 1;
  }
}

// A whole decimal number within [low, high], nothing else.
std::optional<long long> Number(const std::string& text, long long low, long long high) {
  if (text.empty() || text.find_first_not_of("+-0123456789") != std::string::npos)
    return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::uint32_t> ParsePriority(const std::string& text, std::string* why) {
  std::string word;
  for (const char c : Trimmed(text)) {
    if (c != ' ' && c != '-' && c != '_') word += c;
  }
  if (word.empty()) return 0u;
  static constexpr std::pair<const char*, std::uint32_t> kClasses[] = {
      {"idle", priority_class::kIdle},
      {"belownormal", priority_class::kBelowNormal},
      {"normal", priority_class::kNormal},
      {"abovenormal", priority_class::kAboveNormal},
      {"high", priority_class::kHigh}};
  for (const auto& [name, value] : kClasses) {
    if (EqualsIgnoringCase(word, name)) return value;
  }
  *why = "\"" + text + "\" is none of idle, below normal, normal, above normal, high";
  return std::nullopt;
}

std::optional<std::uint64_t> ParseAffinity(const std::string& text, std::string* why) {
  std::uint64_t mask = 0;
  for (const std::string& item : Items(text)) {
    const std::size_t dash = item.find('-', 1);
    const auto first = Number(Trimmed(item.substr(0, dash)), 0, kProcessors - 1);
    const auto last = dash == std::string::npos
                          ? first
                          : Number(Trimmed(item.substr(dash + 1)), 0, kProcessors - 1);
    if (!first || !last || *last < *first) {
      *why = "\"" + text + "\" is not a list of processor numbers 0 to 63 and ranges such as 2-5";
      return std::nullopt;
    }
    for (long long n = *first; n <= *last; ++n) mask |= std::uint64_t{1} << n;
  }
  return mask;
}

std::optional<std::vector<std::uint32_t>> ParseExitCodes(const std::string& text,
                                                         std::string* why) {
  std::vector<std::uint32_t> codes;
  for (const std::string& item : Items(text)) {
    const auto code = Number(item, -2147483648LL, 4294967295LL);
    if (!code) {
      *why = "\"" + text + "\" is not a comma-separated list of whole numbers";
      return std::nullopt;
    }
    codes.push_back(static_cast<std::uint32_t>(*code));
  }
  return codes;
}

bool LoadClientSettings(IFileSystem& files, const IniReader& ini, Configuration* config,
                        std::vector<std::string>* problems) {
  Configuration& c = *config;
  const std::size_t before = problems->size();
  auto raw = [&](const char* key) {
    std::string value;
    files.GetProfileString(c.IniFile, std::string(names::kIniSection), std::string(key), "",
                           kSectionBuffer, &value);
    return value;
  };
  std::string why;
  if (auto priority = ParsePriority(raw("Priority"), &why)) {
    c.PriorityClass = *priority;
  } else {
    problems->push_back("Priority: " + why);
  }
  if (auto mask = ParseAffinity(raw("Affinity"), &why)) {
    c.AffinityMask = *mask;
  } else {
    problems->push_back("Affinity: " + why);
  }
  if (auto codes = ParseExitCodes(raw("StopExitCodes"), &why)) {
    c.StopExitCodes = std::move(*codes);
  } else {
    problems->push_back("StopExitCodes: " + why);
  }

  std::string section;
  files.GetProfileSection(c.IniFile, kEnvironmentSection, kSectionBuffer, &section);
  c.Environment.clear();
  for (std::size_t pos = 0; pos < section.size();) {
    const std::size_t end = std::min(section.find('\0', pos), section.size());
    const std::string entry = section.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty() || entry[0] == ';') continue;
    const std::size_t equals = entry.find('=');
    const std::string name = Trimmed(entry.substr(0, equals));
    if (equals == std::string::npos || name.empty()) {
      problems->push_back(std::string(kEnvironmentSection) + ": \"" + entry +
                          "\" is not NAME=VALUE");
      continue;
    }
    std::string value = ini.ExpandMacros(entry.substr(equals + 1));
    if (value.size() > kMaxVariable) {
      problems->push_back(std::string(kEnvironmentSection) + ": " + name +
                          " is longer than a variable may be (32767 characters)");
      continue;
    }
    c.Environment.emplace_back(name, std::move(value));
  }
  return problems->size() == before;
}

}  // namespace keldran
