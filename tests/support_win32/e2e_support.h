#pragma once
// Helpers for Windows tests and benchmarks that drive real programs (plain Win32, no gtest), on
// top of the shared helper library.

#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "common/com.h"
#include "common/files.h"
#include "common/process.h"
#include "common/registry.h"

namespace keldran::test {

using namespace keldran::tools;

// KeldranGridAgent.exe beside the test executable.
std::string AgentExePath();

// Polls the predicate every pollMs in real time until it holds (true) or timeoutMs have passed
// (false, after one last look). For end-to-end tests only: unit tests never wait.
bool WaitUntil(const std::function<bool()>& predicate, DWORD timeoutMs, DWORD pollMs = 20);

// The name of a daily log file, "%04i-%02i-%02i.log": today's, or that of the day that many days
// before.
std::string DayFileName(int daysAgo = 0);
// The content of today's log file in the directory; empty when there is none.
std::string ReadTodaysLog(const std::string& dir);

// A service or service manager handle of the Service Control Manager, closed with the owner.
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, decltype(&CloseServiceHandle)>;
// The installed service of that name with all access; empty when there is none.
ScHandle OpenServiceNamed(const char* name);

// Registers the type library of KeldranGridAgent.exe for the life of the object, for the type
// library marshaler (installing the host normally does it).
class TypeLibRegistration {
 public:
  explicit TypeLibRegistration(const std::string& exePath);
  TypeLibRegistration(const TypeLibRegistration&) = delete;
  TypeLibRegistration& operator=(const TypeLibRegistration&) = delete;
  ~TypeLibRegistration();
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_ = E_FAIL;
  GUID libid_{};
  WORD major_ = 0, minor_ = 0;
  LCID lcid_ = 0;
  SYSKIND syskind_ = SYS_WIN64;
};

}  // namespace keldran::test
