#include "platform/fake/fake_support.h"

namespace keldran::fake {

std::string FoldCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace keldran::fake
