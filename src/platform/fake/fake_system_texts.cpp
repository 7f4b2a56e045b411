#include "platform/fake/fake_system_texts.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

namespace keldran::fake {
namespace {

thread_local Win32Error t_lastError = 0;

constexpr std::size_t kModuleMessageBuffer = 40960;

// The system's texts for the codes the host and its tests meet, as Wine's FormatMessage gives
// them (codes Wine has no text for, such as E_NOINTERFACE, are left out on purpose).
const std::map<std::uint32_t, const char*> kSystemMessages = {
    {0x00000000u, "Success.\r\n"},           {0x00000002u, "File not found.\r\n"},
    {0x00000003u, "Path not found.\r\n"},    {0x00000005u, "Access denied.\r\n"},
    {0x00000020u, "Sharing violation.\r\n"}, {0x00000070u, "Disk full.\r\n"},
    {0x000005B4u, "Timeout.\r\n"},           {0x80004005u, "Call failed.\r\n"},
    {0x80070005u, "Access denied.\r\n"},     {0x8007000Eu, "Out of memory.\r\n"},
};

// Reads the message-table source: "MessageId=n" starts an entry, "Language=..." starts its text,
// a line holding only "." ends it; every text line ends with CR LF, as the compiled table has.
std::map<std::uint32_t, std::string> LoadMessageSource(const std::string& path) {
  std::map<std::uint32_t, std::string> messages;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::uint32_t id = 0;
  bool inText = false;
  std::string text;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (inText) {
      if (line == ".") {
        messages[id] = text;
        inText = false;
      } else {
        text += line + "\r\n";
      }
    } else if (line.rfind("MessageId=", 0) == 0) {
      id = static_cast<std::uint32_t>(std::strtoul(line.c_str() + 10, nullptr, 0));
    } else if (line.rfind("Language=", 0) == 0) {
      inText = true;
      text.clear();
    }
  }
  return messages;
}

// Windows-1252 code points of the bytes 0x80 to 0x9F (0 where the code page has none).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

FakeSystemTexts::FakeSystemTexts(const std::string& messageSource) {
  if (!messageSource.empty()) moduleMessages_ = LoadMessageSource(messageSource);
}

std::optional<std::string> FakeSystemTexts::SystemMessage(std::uint32_t code) {
  if (auto it = kSystemMessages.find(code); it != kSystemMessages.end()) return it->second;
  SetLastError(win32_error::kMrMidNotFound);
  return std::nullopt;
}

std::optional<std::string> FakeSystemTexts::ModuleMessage(std::uint32_t id,
                                                          const std::string& insert) {
  auto it = moduleMessages_.find(id);
  if (it == moduleMessages_.end()) {
    SetLastError(win32_error::kMrMidNotFound);
    return std::nullopt;
  }
  // The table's texts hold no escapes but their one insertion point; the inserted text is not
  // scanned again.
  std::string out = it->second;
  if (auto at = out.find("%1"); at != std::string::npos) out.replace(at, 2, insert);
  if (out.size() >= kModuleMessageBuffer) {
    SetLastError(win32_error::kInsufficientBuffer);
    return std::nullopt;
  }
  return out;
}

Win32Error FakeSystemTexts::LastError() { return t_lastError; }

void FakeSystemTexts::SetLastError(Win32Error error) { t_lastError = error; }

void FakeSystemTexts::OutputDebugString(const std::string& text) {
  std::lock_guard lock(mutex_);
  debugOutput_.push_back(text);
}

std::string FakeSystemTexts::WideToAnsi(const WideString& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    // Back to the byte that AnsiToWide makes the character of, '?' where there is none.
    const bool itself = c < 0x100 && !(c >= 0x80 && c < 0xA0 && kCp1252High[c - 0x80]);
    const auto high = std::find(std::begin(kCp1252High), std::end(kCp1252High), c);
    out += itself                          ? static_cast<char>(c)
           : high != std::end(kCp1252High) ? static_cast<char>(0x80 + (high - kCp1252High))
                                           : '?';
  }
  return out;
}

WideString FakeSystemTexts::AnsiToWide(const std::string& text) {
  WideString out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    out += b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : char16_t{b};
  }
  return out;
}

}  // namespace keldran::fake
