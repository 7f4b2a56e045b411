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

std::string DayFileName(int daysAgo) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER value{{now.dwLowDateTime, now.dwHighDateTime}};
  value.QuadPart -= static_cast<ULONGLONG>(daysAgo) * 24 * 3600 * 10000000ull;
  FILETIME then{value.LowPart, value.HighPart}, local;
  SYSTEMTIME date;
  FileTimeToLocalFileTime(&then, &local);
  FileTimeToSystemTime(&local, &date);
  char name[32];
  std::snprintf(name, sizeof name, "%04u-%02u-%02u.log", date.wYear, date.wMonth, date.wDay);
  return name;
}

std::string ReadTodaysLog(const std::string& dir) {
  return ReadWholeFile(dir + "\\" + DayFileName()).value_or("");
}

ScHandle OpenServiceNamed(const char* name) {
  const ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS),
                         &CloseServiceHandle);
  return ScHandle(OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS), &CloseServiceHandle);
}

TypeLibRegistration::TypeLibRegistration(const std::string& exePath) {
  const std::wstring path = Widen(exePath);
  ComPtr<ITypeLib> lib;
  hr_ = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr_)) return;
  TLIBATTR* attr = nullptr;
  hr_ = lib->GetLibAttr(&attr);
  if (FAILED(hr_)) return;
  libid_ = attr->guid;
  major_ = attr->wMajorVerNum;
  minor_ = attr->wMinorVerNum;
  lcid_ = attr->lcid;
  syskind_ = attr->syskind;
  lib->ReleaseTLibAttr(attr);
  std::wstring mutablePath = path;
  hr_ = RegisterTypeLib(lib.get(), mutablePath.data(), nullptr);
}

TypeLibRegistration::~TypeLibRegistration() {
  if (FAILED(hr_)) return;
  (void)UnRegisterTypeLib(libid_, major_, minor_, lcid_, syskind_);
}

}  // namespace keldran::test
