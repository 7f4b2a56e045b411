// The log record writer with any text and tag (CR, LF, NUL, long ones): what reaches the day's
// file, the debugger and, with tracing, the event log.
#include <algorithm>
#include <cstdint>
#include <string>

#include "check.h"
#include "log/log.h"
#include "platform/fake/fake_platform.h"

namespace keldran {
namespace {

constexpr const char* kDayFile = "C:\\Logs\\2024-03-01.log";
constexpr const char* kTime = "#09:05:03.007#";

std::string Without(std::string text, const char* bytes) {
  std::erase_if(text, [&](char c) { return std::string_view(bytes).find(c) != std::string::npos; });
  return text;
}

std::string TrimBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace
}  // namespace keldran

// Input: a flag byte (1: a tag, 2: tracing), a repeat count for the text (its low four bits), the
// tag up to the first NUL, then the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace keldran;
  if (size < 2) return 0;
  const bool hasTag = data[0] & 1, trace = data[0] & 2;
  const int repeat = 1 + (data[1] & 15);
  std::string rest = fuzz::Text(data + 2, size - 2);
  std::string tag;
  if (hasTag) {
    const std::size_t nul = rest.find('\0');
    tag = rest.substr(0, nul);
    rest = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
  }
  std::string text;
  for (int i = 0; i < repeat; ++i) text += rest;

  fake::FakePlatform fake("");
  fake.files.AddDirectory("C:\\Logs");
  LocalTime t;
  t.year = 2024, t.month = 3, t.day = 1, t.hour = 9, t.minute = 5, t.second = 3;
  t.milliseconds = 7;
  fake.clock.SetLocalTime(t);
  Log log(fake.platform());
  log.setEventSourceName("Grid");
  log.setLogDir("C:\\Logs");
  log.setLogTrace(trace);
  log.logDebug(text, hasTag ? tag.c_str() : nullptr);
  FUZZ_CHECK(log.Flush(1000));

  const std::string file = fake.files.FileContent(kDayFile).value_or("");
  const auto debugger = fake.texts.DebugOutput();
  const auto traced = fake.eventLog.EventsWithId(1000);
  FUZZ_CHECK(fake.eventLog.EventsWithId(1001).empty());  // nothing failed
  std::string content = text;
  std::erase(content, '\0');
  if (content.empty()) {
    FUZZ_CHECK(file.empty() && debugger.empty() && traced.empty());
    return 0;
  }

  // No NUL, every line break a CR LF pair, and a bounded length.
  FUZZ_CHECK(file.find('\0') == std::string::npos);
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '\r') FUZZ_CHECK(i + 1 < file.size() && file[i + 1] == '\n');
    if (file[i] == '\n') FUZZ_CHECK(i > 0 && file[i - 1] == '\r');
  }
  const std::string cutTag = tag.substr(0, log_limits::kMaxTag);
  FUZZ_CHECK(file.size() <= 2 * (content.size() + cutTag.size()) + 24);

  // Line breaks first (at least the record's own two), then the header with the tag as far as
  // it fits; then the text, which keeps every character but NULs and the blanks and line breaks
  // at its ends.
  const std::size_t hash = file.find('#');
  FUZZ_CHECK(hash != std::string::npos && hash >= 4 && hash % 2 == 0);
  for (std::size_t i = 0; i < hash; i += 2) FUZZ_CHECK(file.compare(i, 2, "\r\n") == 0);
  const std::string flat = Without(file.substr(hash), "\r\n");
  const std::string header = kTime + Without(cutTag, "\r\n") + "# ";
  FUZZ_CHECK(flat.starts_with(header));
  const std::string body = flat.substr(header.size());
  const std::string words = TrimBlanks(Without(content, "\r\n"));
  if (!words.empty()) {
    FUZZ_CHECK(TrimBlanks(body) == words);
  } else {
    FUZZ_CHECK(body.find_first_not_of(' ') == std::string::npos && body.size() <= content.size());
  }
  if (tag.find_first_of("\r\n") == std::string::npos)
    FUZZ_CHECK(file.compare(hash - 4, 4 + header.size(), "\r\n\r\n" + header) == 0);

  // The debugger gets the record without its first line break and with a final one; the trace
  // echo, the record with the final one.
  FUZZ_CHECK(debugger.size() == 1 && debugger[0] == file.substr(2) + "\r\n");
  if (trace && file.find(".Log ====================") == std::string::npos) {
    FUZZ_CHECK(traced.size() == 1 && traced[0].strings.size() == 1 &&
               traced[0].strings[0] == file + "\r\n");
  } else {
    FUZZ_CHECK(traced.empty());
  }
  return 0;
}
