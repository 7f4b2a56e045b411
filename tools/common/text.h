#pragma once
// Text at the edges of the helper programs: wide and narrow forms for COM (ANSI code page), and
// one-line forms for line-based output files.

#include <string>

namespace keldran::tools {

std::wstring Widen(const std::string& text);
// Empty for a null or empty text.
std::string Narrow(const wchar_t* text);

// CR and LF written as the two characters "\r" and "\n", so that a text stays on one line.
std::string OneLine(const std::string& text);

}  // namespace keldran::tools
