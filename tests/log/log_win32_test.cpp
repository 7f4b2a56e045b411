// The log writer on the real system under Wine: an event record with the program's own message
// table, and four processes appending to one file at once. (A file another process holds is the
// end-to-end HostSecurityTest's.)
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/files.h"
#include "log/error_text.h"
#include "log/log.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran {
namespace {

using tools::ProgramPath;

class LogWin32Test : public ::testing::Test {
 protected:
  LogWin32Test()
      : messages_(::LoadLibraryExA(ProgramPath("KeldranGridAgent.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE)),
        backend_(messages_.get()) {
    EXPECT_TRUE(messages_) << "KeldranGridAgent.exe not found beside the tests";
  }

  // Today's log file in the scratch directory.
  std::string DayFile() const {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return dir_.Read(Format("%04i-%02i-%02i.log", now.wYear, now.wMonth, now.wDay));
  }

  // A helper process: log_writer with the arguments.
  ProcessHandle StartHelper(const std::string& arguments) {
    ProcessInformation info;
    const Win32Error error =
        real_.processes.CreateProcess("\"" + ProgramPath("log_writer.exe") + "\" " + arguments,
                                      show_window::kHide, std::nullopt, "", &info);
    EXPECT_EQ(error, 0u) << arguments;
    real_.processes.CloseThread(info.thread);
    return info.process;
  }

  tools::ScratchDir dir_;
  win32::UniqueModule messages_;
  win32::Win32Platform backend_;
  Platform& real_ = backend_.platform();
};

// Record headers carry the time of day; the rest of each record is compared byte for byte.
std::string MaskTimes(std::string text) {
  static const std::regex time("#\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d#");
  return std::regex_replace(text, time, "#hh:mm:ss.mmm#");
}

TEST_F(LogWin32Test, EventRecordsUseTheProgramsMessageTable) {
  Log log(real_);
  log.setLogDir(dir_.path().c_str());
  log.setEventSourceName("KeldranLogTest");
  std::vector<std::string> hooked;
  log.setEventHook(
      [](std::uintptr_t context, const char* text, std::uint16_t) {
        reinterpret_cast<std::vector<std::string>*>(context)->push_back(text);
      },
      reinterpret_cast<std::uintptr_t>(&hooked));

  const char* timedOut[] = {"after 30 seconds"};
  log.logEvent(event_type::kWarning, 4, 107, timedOut, 1, "Grid");
  const char* none[] = {nullptr, nullptr, nullptr, nullptr};
  log.logEvent(event_type::kInformation, 5, 400, none, 4, "Grid");
  const char* unlisted[] = {"unlisted"};
  log.logEvent(event_type::kInformation, 4, 4242, unlisted, 1, nullptr);

  ASSERT_TRUE(log.Flush(5000));
  EXPECT_EQ(MaskTimes(DayFile()),
            "\r\n\r\n#hh:mm:ss.mmm#Grid# ==================== WARNING.Log ====================\r\n"
            "\r\nClient timed out without responding after 30 seconds"
            "\r\n\r\n#hh:mm:ss.mmm#Grid# ==================== INFO.Log ====================\r\n"
            "\r\nService stopped"
            "\r\n\r\n#hh:mm:ss.mmm## ==================== INFO.Log ====================\r\n"
            "\r\nunlisted");
  EXPECT_EQ(hooked,
            (std::vector<std::string>{"Client timed out without responding after 30 seconds",
                                      "Service stopped", "unlisted"}));
  EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
}

TEST_F(LogWin32Test, FourProcessesAppendEveryRecordOnceWholeAndInOrder) {
  constexpr int kProcesses = 4;
  constexpr int kRecords = 500;
  std::vector<ScopedProcessHandle> writers;
  for (int p = 1; p <= kProcesses; ++p) {
    writers.emplace_back(real_.processes, StartHelper(Format("write \"%s\" P%d %d",
                                                             dir_.path().c_str(), p, kRecords)));
  }
  for (auto& writer : writers) {
    ASSERT_EQ(real_.processes.WaitForProcess(writer.get(), 120000), wait_result::kObject0);
    std::uint32_t code = 99;
    ASSERT_TRUE(real_.processes.GetExitCode(writer.get(), &code));
    EXPECT_EQ(code, 0u);
  }

  const std::string content = DayFile();
  static const std::regex record("#\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d#(P\\d)# record \\1 (\\d{6})");
  std::map<std::string, int> last;
  int count = 0;
  int switches = 0;
  std::string previous;
  ASSERT_EQ(content.rfind("\r\n\r\n", 0), 0u);
  for (std::size_t at = 4; at <= content.size();) {
    std::size_t end = content.find("\r\n\r\n", at);
    if (end == std::string::npos) end = content.size();
    const std::string text = content.substr(at, end - at);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, record)) << "torn record: " << text;
    const int number = std::stoi(match[2]);
    EXPECT_EQ(number, last[match[1]] + 1) << "out of order or repeated: " << text;
    last[match[1]] = number;
    if (match[1] != previous) ++switches;
    previous = match[1];
    ++count;
    at = end + 4;
  }
  EXPECT_EQ(count, kProcesses * kRecords);
  for (int p = 1; p <= kProcesses; ++p) EXPECT_EQ(last[Format("P%d", p)], kRecords);
  // Not a requirement, but the run only proves something if the writers overlapped.
  RecordProperty("interleavings", switches);
}

}  // namespace
}  // namespace keldran
