#pragma once

#include <cstdint>
#include <vector>

namespace keldran::fake {

struct SystemMessageEntry {
  std::uint32_t code;
  const char* text;
};

const std::vector<SystemMessageEntry>& SystemMessageTable();

}  // namespace keldran::fake
