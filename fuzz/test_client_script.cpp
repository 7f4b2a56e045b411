// The test client's step language and command line: steps, calls, numbers and the host's
// parameters, each printed back and read again.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "script.h"

namespace keldran::client {
namespace {

bool SameSteps(const std::vector<Step>& a, const std::vector<Step>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].value != b[i].value || a[i].hasValue != b[i].hasValue)
      return false;
  }
  return true;
}

void CheckSteps(const std::string& text) {
  const std::vector<Step> steps = ParseSteps(text);
  // A leading ';' keeps a first step that begins with '#' from reading as a comment line.
  std::string printed;
  for (const Step& step : steps) {
    FUZZ_CHECK(step.name.find_first_of(";\n=") == std::string::npos);
    FUZZ_CHECK(step.value.find_first_of(";\n") == std::string::npos);
    printed += ";" + step.name + (step.hasValue ? "=" + step.value : "");
  }
  FUZZ_CHECK(SameSteps(ParseSteps(printed), steps));
}

void CheckCall(const std::string& text) {
  const std::optional<Call> call = ParseCall(text);
  if (!call) return;
  FUZZ_CHECK(!call->method.empty() && call->method.find('(') == std::string::npos);
  std::string printed = call->method + "(";
  for (std::size_t i = 0; i < call->args.size(); ++i) printed += (i ? "," : "") + call->args[i];
  const std::optional<Call> again = ParseCall(printed + ")");
  FUZZ_CHECK(again && again->method == call->method && again->args == call->args);
}

// The client runs on Windows, where a long is 32 bits: a number is accepted only when it fits,
// and reads the same on every platform (hexadecimal as a 32-bit pattern).
void CheckNumber(const std::string& text) {
  const std::optional<long> number = ParseNumber(text);
  if (!number) return;
  FUZZ_CHECK(*number >= INT32_MIN && *number <= INT32_MAX);
  FUZZ_CHECK(text.find('\0') == std::string::npos);  // a NUL ends no number early
  std::size_t first = text.find_first_not_of(" \t\r\n");
  const std::string digits = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
  errno = 0;
  char* end = nullptr;
  if (hex) {
    const unsigned long long exact = std::strtoull(digits.c_str() + 2, &end, 16);
    FUZZ_CHECK(errno == 0 && exact <= 0xFFFFFFFFull);
    FUZZ_CHECK(*number == static_cast<std::int32_t>(static_cast<std::uint32_t>(exact)));
  } else {
    const long long exact = std::strtoll(digits.c_str(), &end, 10);
    FUZZ_CHECK(errno == 0 && exact == *number);
  }
}

// The host appends " /ServiceID=<id> /ServiceName=<name>" to whatever the command line holds.
void CheckHostParams(const std::string& text) {
  const std::size_t a = text.find('|'), b = text.find('|', a == std::string::npos ? a : a + 1);
  if (b == std::string::npos) return;
  const std::string rest = text.substr(0, a), id = text.substr(a + 1, b - a - 1),
                    name = text.substr(b + 1);
  // What the host can append: a GUID and a service name, without blanks at their ends or the
  // parameters' markers.
  for (const std::string* part : {&id, &name}) {
    if (part->empty() || part->find(" /Service") != std::string::npos ||
        part->find_first_of(" \t\r\n") == 0 || part->find_last_of(" \t\r\n") == part->size() - 1)
      return;
  }
  const HostParams params = SplitHostParams(rest + " /ServiceID=" + id + " /ServiceName=" + name);
  FUZZ_CHECK(params.rest == rest && params.serviceId == id && params.serviceName == name);
}

}  // namespace
}  // namespace keldran::client

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace keldran::client;
  const std::string text = keldran::fuzz::Text(data, size);
  CheckSteps(text);
  CheckCall(text);
  CheckNumber(text);
  CheckHostParams(text);
  // Arguments quoted where they need it split back into themselves.
  const std::vector<std::string> arguments = SplitArguments(text);
  std::string printed;
  for (const std::string& argument : arguments) {
    const bool quote = argument.empty() || argument.find_first_of(" \t") != std::string::npos;
    printed += (quote ? "\"" + argument + "\"" : argument) + " ";
  }
  FUZZ_CHECK(SplitArguments(printed) == arguments);
  const Options options = ParseOptions(arguments);
  FUZZ_CHECK(options.unknown.size() + 1 <= std::max<std::size_t>(arguments.size(), 1));
  FUZZ_CHECK(options.delayMs >= 0);
  return 0;
}
