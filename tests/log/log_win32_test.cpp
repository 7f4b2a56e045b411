// The log writer on the real system under Wine: four processes appending to one file at once.
// (The message table's texts in the log and a file another process holds are the end-to-end
// tests'.)
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/files.h"
#include "log/error_text.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran {
namespace {

using tools::ProgramPath;

class LogWin32Test : public ::testing::Test {
 protected:
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
  win32::Win32Platform backend_;
  Platform& real_ = backend_.platform();
};

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
