#pragma once
// Helpers for Windows tests that drive real programs: where the built programs lie.

#include <string>

namespace keldran::test {

// Directory of the running test executable, without a trailing backslash.
std::string TestExeDir();
// KeldranGridAgent.exe beside the test executable.
std::string AgentExePath();

}  // namespace keldran::test
