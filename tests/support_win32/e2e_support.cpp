#include "support_win32/e2e_support.h"

#include <windows.h>

namespace keldran::test {

std::string TestExeDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  std::string dir(path, n);
  size_t slash = dir.find_last_of("\\/");
  return slash == std::string::npos ? "." : dir.substr(0, slash);
}

std::string AgentExePath() { return TestExeDir() + "\\KeldranGridAgent.exe"; }

}  // namespace keldran::test
