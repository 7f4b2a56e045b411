#include "platform/fake/fake_system_texts.h"

#include <cstdlib>
#include <fstream>

#include "platform/fake/system_message_table.h"

namespace keldran::fake {
namespace {

thread_local Win32Error t_lastError = 0;

constexpr std::size_t kModuleMessageBuffer = 40960;

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
  for (const auto& entry : SystemMessageTable()) {
    if (entry.code == code) return std::string(entry.text);
  }
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
  // The escapes FormatMessage expands at run time; inserted text is not scanned again.
  const std::string& source = it->second;
  std::string out;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] != '%' || i + 1 == source.size()) {
      out += source[i];
      continue;
    }
    char next = source[++i];
    if (next == '1' && (i + 1 == source.size() || source[i + 1] < '0' || source[i + 1] > '9')) {
      out += insert;
    } else if (next == 'n') {
      out += "\r\n";
    } else if (next == 'r') {
      out += '\r';
    } else if (next == 't') {
      out += '\t';
    } else if (next == '0') {
      break;
    } else {
      out += next;  // %% and %. give the character itself
    }
  }
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

bool FakeSystemTexts::WriteStandardStream(Stream stream, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (!console_) return false;
  standard_[stream == Stream::kOutput ? 0 : 1] += text;
  return true;
}

void FakeSystemTexts::SetConsole(bool attached) {
  std::lock_guard lock(mutex_);
  console_ = attached;
}

std::string FakeSystemTexts::StandardOutput() const {
  std::lock_guard lock(mutex_);
  return standard_[0];
}

std::string FakeSystemTexts::StandardError() const {
  std::lock_guard lock(mutex_);
  return standard_[1];
}

std::vector<std::string> FakeSystemTexts::DebugOutput() const {
  std::lock_guard lock(mutex_);
  return debugOutput_;
}

void FakeSystemTexts::ClearDebugOutput() {
  std::lock_guard lock(mutex_);
  debugOutput_.clear();
}

std::string FakeSystemTexts::WideToAnsi(const WideString& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += static_cast<char>(c);
      continue;
    }
    char mapped = '?';
    for (int i = 0; i < 32; ++i) {
      if (kCp1252High[i] == c && c != 0) mapped = static_cast<char>(0x80 + i);
    }
    out += mapped;
  }
  return out;
}

WideString FakeSystemTexts::AnsiToWide(const std::string& text) {
  WideString out;
  out.reserve(text.size());
  for (char ch : text) {
    auto b = static_cast<unsigned char>(ch);
    if (b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) {
      out += kCp1252High[b - 0x80];
    } else {
      out += static_cast<char16_t>(b);
    }
  }
  return out;
}

std::size_t FakeSystemTexts::CharNext(const std::string& text, std::size_t offset) {
  // Windows-1252 has no lead bytes: one byte is one character.
  return offset < text.size() ? offset + 1 : text.size();
}

}  // namespace keldran::fake
