#include "script.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace keldran::client {
namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool StartsWithNoCase(const std::string& text, const char* prefix, std::string& rest) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size()) return false;
    char a = text[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  rest = text.substr(i);
  return true;
}

}  // namespace

HostParams SplitHostParams(const std::string& commandLine) {
  HostParams params;
  const size_t idAt = commandLine.rfind(" /ServiceID=");
  if (idAt == std::string::npos) {
    params.rest = commandLine;
    return params;
  }
  params.rest = commandLine.substr(0, idAt);
  const std::string tail = commandLine.substr(idAt + 12);
  const size_t nameAt = tail.find(" /ServiceName=");
  if (nameAt == std::string::npos) {
    params.serviceId = Trim(tail);
  } else {
    params.serviceId = Trim(tail.substr(0, nameAt));
    params.serviceName = Trim(tail.substr(nameAt + 14));
  }
  return params;
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false, any = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) arguments.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) arguments.push_back(current);
  return arguments;
}

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  // The first word is the program itself.
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    std::string value;
    if (StartsWithNoCase(arg, "/out=", value)) {
      options.outFile = value;
    } else if (StartsWithNoCase(arg, "/instance=", value)) {
      options.instance = value;
    } else if (StartsWithNoCase(arg, "/script=", value)) {
      options.scriptFile = value;
    } else if (StartsWithNoCase(arg, "/do=", value)) {
      options.steps = value;
    } else if (StartsWithNoCase(arg, "/once=", value)) {
      options.onceMarker = value;
    } else if (StartsWithNoCase(arg, "/later=", value)) {
      options.laterSteps = value;
    } else if (StartsWithNoCase(arg, "/laterscript=", value)) {
      options.laterScriptFile = value;
    } else if (StartsWithNoCase(arg, "/plain", value) && value.empty()) {
      options.plain = true;
    } else if (StartsWithNoCase(arg, "/delay=", value) && ParseNumber(value).value_or(-1) >= 0) {
      options.delayMs = *ParseNumber(value);
    } else {
      options.unknown.push_back(arg);
    }
  }
  return options;
}

std::vector<Step> ParseSteps(const std::string& text) {
  std::vector<Step> steps;
  size_t lineStart = 0;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const std::string line = Trim(text.substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;
    // A comment takes its whole line, semicolons included.
    if (line.empty() || line[0] == '#') continue;
    size_t start = 0;
    while (start <= line.size()) {
      size_t end = line.find(';', start);
      if (end == std::string::npos) end = line.size();
      const std::string item = Trim(line.substr(start, end - start));
      start = end + 1;
      if (item.empty()) continue;
      Step step;
      const size_t eq = item.find('=');
      if (eq == std::string::npos) {
        step.name = item;
      } else {
        step.name = Trim(item.substr(0, eq));
        step.value = item.substr(eq + 1);
        step.hasValue = true;
      }
      steps.push_back(step);
    }
  }
  return steps;
}

std::optional<Call> ParseCall(const std::string& text) {
  Call call;
  const std::string trimmed = Trim(text);
  const size_t open = trimmed.find('(');
  if (open == std::string::npos) {
    call.method = trimmed;
    return call.method.empty() ? std::nullopt : std::optional<Call>(call);
  }
  if (trimmed.back() != ')') return std::nullopt;
  call.method = Trim(trimmed.substr(0, open));
  if (call.method.empty()) return std::nullopt;
  const std::string inner = trimmed.substr(open + 1, trimmed.size() - open - 2);
  if (inner.empty()) return call;
  size_t start = 0;
  for (;;) {
    const size_t comma = inner.find(',', start);
    call.args.push_back(inner.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return call;
}

std::optional<long> ParseNumber(const std::string& text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  // Numbers are 32 bits wide as a Windows long is, whatever the platform: a decimal beyond that
  // is refused, and so is a hex code wider than 32 bits (a cast would keep only its low bits).
  std::int64_t value;
  if (trimmed.size() > 2 && trimmed[0] == '0' && (trimmed[1] == 'x' || trimmed[1] == 'X')) {
    const unsigned long long bits = std::strtoull(trimmed.c_str(), &end, 16);
    if (bits > 0xFFFFFFFFull) return std::nullopt;
    // Hex codes such as 0x80004005 are 32-bit patterns: keep their bits.
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
  } else {
    value = std::strtoll(trimmed.c_str(), &end, 10);
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  }
  // The digits must make up the whole text: strtol stops at a NUL as at the end.
  if (errno != 0 || end == trimmed.c_str() || end != trimmed.c_str() + trimmed.size())
    return std::nullopt;
  return static_cast<long>(value);
}

}  // namespace keldran::client
