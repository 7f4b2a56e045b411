// The log writer on the real system under Wine: an event record with the program's own message
// table, and four processes appending to one file at once. (A file another process holds is the
// end-to-end HostSecurityTest's.)
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "log/error_text.h"
#include "log/log.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran {
namespace {

std::string BesideTests(const std::string& name) {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.rfind('\\') + 1) + name;
}

// The real event log, with what the writer reports kept for the test: Wine's event log stores
// nothing.
class RecordingEventLog final : public IEventLog {
 public:
  struct Reported {
    std::uint16_t type, category;
    std::uint32_t id;
    std::vector<std::string> strings;
  };
  explicit RecordingEventLog(IEventLog& real) : real_(real) {}
  Win32Error RegisterSource(const std::string& name, EventSource* source) override {
    return real_.RegisterSource(name, source);
  }
  Win32Error Report(EventSource source, std::uint16_t type, std::uint16_t category,
                    std::uint32_t id, const std::vector<std::string>& strings) override {
    {
      std::lock_guard lock(mutex_);
      reports_.push_back({type, category, id, strings});
    }
    return real_.Report(source, type, category, id, strings);
  }
  void DeregisterSource(EventSource source) override { real_.DeregisterSource(source); }
  std::vector<Reported> WithId(std::uint32_t id) const {
    std::lock_guard lock(mutex_);
    std::vector<Reported> out;
    for (const auto& r : reports_)
      if (r.id == id) out.push_back(r);
    return out;
  }

 private:
  IEventLog& real_;
  mutable std::mutex mutex_;
  std::vector<Reported> reports_;
};

class LogWin32Test : public ::testing::Test {
 protected:
  LogWin32Test()
      : messages_(::LoadLibraryExA(BesideTests("KeldranGridAgent.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE)),
        backend_(messages_.get()),
        real_(backend_.platform()),
        eventLog_(real_.eventLog),
        platform_{real_.registry, real_.services, eventLog_,       real_.processes,
                  real_.files,    real_.clock,    real_.windowing, real_.dialogs,
                  real_.com,      real_.shell,    real_.sync,      real_.texts} {
    EXPECT_TRUE(messages_) << "KeldranGridAgent.exe not found beside the tests";
    // Every writer on the machine shares the one log mutex, and one of these tests keeps it for
    // ten seconds: test programs that ctest runs side by side take turns here.
    EXPECT_TRUE(serial_);
    if (serial_) {
      EXPECT_NE(::WaitForSingleObject(serial_.get(), 300000), WAIT_TIMEOUT);
    }
    char temp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathA(sizeof temp, temp);
    static int counter = 0;
    dir_ = std::string(temp, n) + "keldran-log-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    EXPECT_TRUE(::CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
  }

  ~LogWin32Test() override {
    (void)real_.shell.DeleteFolder(dir_);
    if (serial_) ::ReleaseMutex(serial_.get());
  }

  // Today's log file in the scratch directory.
  std::string DayPath() const {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return dir_ + "\\" + Format("%04i-%02i-%02i.log", now.wYear, now.wMonth, now.wDay);
  }

  std::string DayFile() const {
    std::ifstream in(DayPath(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  // A helper process: log_writer with the arguments.
  ProcessHandle StartHelper(const std::string& arguments) {
    ProcessInformation info;
    const Win32Error error =
        real_.processes.CreateProcess("\"" + BesideTests("log_writer.exe") + "\" " + arguments,
                                      show_window::kHide, std::nullopt, "", &info);
    EXPECT_EQ(error, 0u) << arguments;
    real_.processes.CloseThread(info.thread);
    return info.process;
  }

  win32::UniqueKernelHandle serial_{::CreateMutexA(nullptr, FALSE, "KeldranLogWin32Tests")};
  win32::UniqueModule messages_;
  win32::Win32Platform backend_;
  Platform& real_;
  RecordingEventLog eventLog_;
  Platform platform_;
  std::string dir_;
};

// Record headers carry the time of day; the rest of each record is compared byte for byte.
std::string MaskTimes(std::string text) {
  static const std::regex time("#\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d#");
  return std::regex_replace(text, time, "#hh:mm:ss.mmm#");
}

TEST_F(LogWin32Test, EventRecordsUseTheProgramsMessageTable) {
  Log log(platform_);
  log.setLogDir(dir_.c_str());
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
  EXPECT_EQ(eventLog_.WithId(400).at(0).strings, std::vector<std::string>{""});
  EXPECT_FALSE(log.failureReported(Log::kLogFileFailure));
}

TEST_F(LogWin32Test, FourProcessesAppendEveryRecordOnceWholeAndInOrder) {
  constexpr int kProcesses = 4;
  constexpr int kRecords = 500;
  std::vector<ScopedProcessHandle> writers;
  for (int p = 1; p <= kProcesses; ++p) {
    writers.emplace_back(real_.processes,
                         StartHelper(Format("write \"%s\" P%d %d", dir_.c_str(), p, kRecords)));
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
