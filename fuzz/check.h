#pragma once
// A property that does not hold ends the run like a crash, so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                   \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "property violated at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)

namespace keldran::fuzz {

inline std::string Text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace keldran::fuzz
