#include "support_win32/e2e_support.h"

#include <cstdio>

namespace keldran::test {

std::string AgentExePath() { return ProgramPath("KeldranGridAgent.exe"); }

bool WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    if (predicate()) return true;
    Sleep(pollMs);
  }
  return predicate();
}

std::string TodaysLogFileName() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char name[32];
  std::snprintf(name, sizeof name, "%04i-%02i-%02i.log", now.wYear, now.wMonth, now.wDay);
  return name;
}

std::string ReadTodaysLog(const std::string& dir) {
  return ReadWholeFile(dir + "\\" + TodaysLogFileName()).value_or("");
}

}  // namespace keldran::test
