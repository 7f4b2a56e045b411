#pragma once
// The test client: a hosted client program that follows the host's protocol and does what its
// script says, writing every step and every message from the host to its output file.
//
// The protocol, as a client sees it:
//  1. The host starts the client with " /ServiceID=<id> /ServiceName=<name>" appended to the
//     configured command line.
//  2. The client looks up the host's object in the running-object table under a file moniker
//     whose name is the ServiceID, and asks it for IService.
//  3. It calls Connect with its (hidden) top-level window; the host answers with its thread id
//     and from then on posts the registered message "KeldranService_Event" to that window, with
//     wParam 1 stop, 2 pause, 3 continue, 4 ping (heartbeat overdue), 5 shutdown, 6 debug,
//     7 hide, 8 show status.
//  4. It calls Running (or Progress, which may set a different time-out for the next interval)
//     more often than the host's time-out; otherwise the host kills and restarts it.
//  5. It ends when told to (stop or shutdown), or asks the host to end (Stop, RequestStop) or
//     to restart it (Restart). The host keeps answering calls while it waits for the client to
//     end, so a client hears the stop when its call returns; this one also hears it in the
//     middle of a call (see StopDuringCalls in test_client.cpp).

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/com.h"
#include "common/handle.h"
#include "keldran_service.h"
#include "script.h"
#include "service_calls.h"

namespace keldran::client {

using tools::ComPtr;
using tools::Handle;

// Appends one line per event to the output file, prefixed with GetTickCount milliseconds, and
// writes it through at once: tests read the file while the client runs. Several client
// instances may append to the same file.
class OutLog {
 public:
  void Open(const std::string& path);
  void Line(const std::string& text);

 private:
  Handle file_;
};

class TestClient {
 public:
  // Runs the client for the whole command line; returns the process exit code.
  int Run(HINSTANCE instance, const std::string& commandLine);

 private:
  static constexpr UINT_PTR kStepTimer = 1;
  static constexpr UINT_PTR kHeartbeatTimer = 2;
  static constexpr UINT_PTR kRecordTimer = 3;
  static constexpr int kUsageError = 2;
  static constexpr int kNoHost = 3;

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  [[nodiscard]] bool CreateClientWindow(HINSTANCE instance);
  [[nodiscard]] HRESULT FindHost(const std::string& serviceId);
  void OnHostEvent(WPARAM code);
  void RunSteps();
  void RunStep(const Step& step);
  void Heartbeat();
  void LogRecord();
  void LogCall(const char* kind, const Call& call, const CallOutcome& outcome);
  void ScheduleSteps(UINT ms);
  void Exit(int code);
  // Ends the process on the host's stop or shutdown, without another call to the host.
  [[noreturn]] void EndAtOnce();

  OutLog log_;
  HWND window_ = nullptr;
  UINT eventMessage_ = 0;
  ComPtr<IService> service_;
  std::vector<Step> steps_;
  size_t nextStep_ = 0;
  bool ignoreStop_ = false;
  bool paused_ = false;
  bool silent_ = false;
  unsigned records_ = 0;  // numbered records the log step has sent
  int exitCode_ = 0;
  bool exiting_ = false;
};

}  // namespace keldran::client
