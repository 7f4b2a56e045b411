#include "bench_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace keldran::bench {

int IntOption(int argc, char** argv, const char* prefix, int fallback) {
  const size_t length = std::strlen(prefix);
  int value = fallback;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix, length) == 0)
      value = std::max(1, std::atoi(argv[i] + length));
  }
  return value;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int GuardedMain(const char* name, int (*main)(int, char**), int argc, char** argv) {
  try {
    return main(argc, argv);
  } catch (...) {
    std::printf("%s: unexpected exception\n", name);
    return 1;
  }
}

}  // namespace keldran::bench
