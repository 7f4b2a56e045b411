#include "log/error_text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace keldran {
namespace {

void TrimTrailingLineBreaks(std::string* text) {
  while (!text->empty() && (text->back() == '\r' || text->back() == '\n')) text->pop_back();
}

}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<std::size_t>(needed));
  }
  va_end(args);
  return out;
}

std::string errorText(ISystemTexts& texts, std::uint32_t code, bool leadingBlankLines,
                      bool wordError, bool trimLineBreaks) {
  if (code == 0) code = texts.LastError();
  std::string out = leadingBlankLines ? "\r\n\r\n" : "";
  const auto signedCode = static_cast<std::int32_t>(code);
  out += wordError ? Format(" Error: %i (0x%08X) ", signedCode, code)
                   : Format("%i (0x%08X) ", signedCode, code);
  if (auto message = texts.SystemMessage(code)) out += *message;
  if (trimLineBreaks) TrimTrailingLineBreaks(&out);
  return out;
}

std::string comErrorMessage(ISystemTexts& texts, HResult hr) {
  const auto bits = static_cast<std::uint32_t>(hr);
  if (auto message = texts.SystemMessage(bits)) {
    std::string text = *message;
    TrimTrailingLineBreaks(&text);
    return text;
  }
  if (bits >= 0x80040200u && bits <= 0x8004FFFFu)
    return Format("IDispatch error #%d", static_cast<int>((bits & 0xFFFF) - 0x200));
  return Format("Unknown error 0x%0lX", static_cast<unsigned long>(bits));
}

std::string comErrorText(ISystemTexts& texts, HResult hr) {
  return "Error: " + codeText(hr) + " " + comErrorMessage(texts, hr);
}

std::string codeText(std::int32_t code) {
  return Format("%i (0x%08X)", code, static_cast<std::uint32_t>(code));
}

std::string hexText(std::uint32_t value) { return Format("0x%08X", value); }

std::string UtilError::text(ISystemTexts& texts) const {
  if (!text_.empty()) return texts.WideToAnsi(text_);
  return comErrorMessage(texts, code_);
}

void throwIfFailed(HResult hr) {
  if (Failed(hr)) throw UtilError(hr);
}

void throwError(HResult hr) { throw UtilError(hr); }

}  // namespace keldran
