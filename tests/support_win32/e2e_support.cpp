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

std::vector<HWND> TopLevelWindows(const std::string& classPrefix, DWORD pid, bool hiddenToo) {
  struct Search {
    const std::string& prefix;
    DWORD pid;
    bool hiddenToo;
    std::vector<HWND> found;
  } search{classPrefix, pid, hiddenToo, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        char name[64] = {};
        GetClassNameA(hwnd, name, sizeof name);
        if ((s->pid == 0 || owner == s->pid) && (s->hiddenToo || IsWindowVisible(hwnd)) &&
            std::string(name).rfind(s->prefix, 0) == 0)
          s->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
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
