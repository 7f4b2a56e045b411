#pragma once
// What the benchmark programs share besides the test helpers: their options, their statistics
// and their guarded entry.

#include <vector>

namespace keldran::bench {

// The whole number of an argument "<prefix>N" (for example "/seconds=" for "/seconds=30"), at
// least 1; the fallback when no argument has the prefix.
int IntOption(int argc, char** argv, const char* prefix, int fallback);

// The median of the values; 0 when there are none.
double Median(std::vector<double> values);

// Runs the benchmark's main function; an exception that escapes it is reported as
// "<name>: unexpected exception" and ends the program with 1.
int GuardedMain(const char* name, int (*main)(int, char**), int argc, char** argv);

}  // namespace keldran::bench
