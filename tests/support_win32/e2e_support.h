#pragma once
// Helpers for Windows tests that drive real programs, on top of the shared helper library
// (running programs, registry keys, files, COM owners): the host executable, waiting in real
// time and today's log file. Plain Win32, no gtest, so that the benchmarks can use them too.

#include <windows.h>

#include <functional>
#include <string>

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

// "%04i-%02i-%02i.log" of today's local date.
std::string TodaysLogFileName();
// The content of today's log file in the directory; empty when there is none.
std::string ReadTodaysLog(const std::string& dir);

}  // namespace keldran::test
