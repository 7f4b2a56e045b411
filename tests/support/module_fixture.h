#pragma once
// The module as the host builds it, on the fake platform: log, client process, state lock,
// registered messages, service window and CServiceModule, plus readers for what tests look at
// (events, log records, children).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/registered_messages.h"
#include "app/service_module.h"
#include "log/log.h"
#include "platform/fake/fake_platform.h"
#include "service/crit_sect.h"
#include "supervision/process.h"
#include "tray/service_win.h"

namespace keldran::test_support {

// Members in construction order; they are destroyed in reverse, the module first.
struct ModuleParts {
  fake::FakePlatform fake;
  Platform& platform = fake.platform();
  Log log{platform};
  Process client{platform};
  CritSect stateLock{fake.sync};
  RegisteredMessages messages = RegisteredMessages::Register(fake.windowing);
  CServiceWin window{platform, messages};
  CServiceModule module{platform, log, client, window, stateLock, messages};
};

class ModuleFixture : public ::testing::Test {
 protected:
  static constexpr const char* kLogDir = "C:\\Logs";

  ModuleFixture() {
    module.ServiceComp = "Grid";
    module.ServiceName = "KeldranGridAgent321";
    module.ServiceID = "{11111111-2222-3333-4444-555555555555}";
    module.LogPre = "Grid";
    parts_.log.setEventSourceName(module.ServiceName);
  }

  // Turns on the day file in kLogDir, so that LogText() sees every record.
  void UseLogFile() {
    fake.files.AddDirectory(kLogDir);
    parts_.log.setLogDir(kLogDir);
  }

  // Everything written to the log directory's files so far.
  std::string LogText() const {
    std::string text;
    for (const std::string& file : fake.files.List(kLogDir)) {
      if (auto content = fake.files.FileContent(file)) text += *content;
    }
    return text;
  }

  std::vector<fake::RecordedEvent> Events(std::uint32_t id) const {
    return fake.eventLog.EventsWithId(id);
  }

  ModuleParts parts_;
  fake::FakePlatform& fake = parts_.fake;
  CServiceModule& module = parts_.module;
  Process& client = parts_.client;
};

// Where a whole log line stands in text (a line ends at CR LF or at the end of the file), or npos.
inline std::size_t FindLine(const std::string& text, const std::string& line) {
  for (std::size_t pos = text.find(line); pos != std::string::npos;
       pos = text.find(line, pos + 1)) {
    const std::size_t end = pos + line.size();
    if (end == text.size() || text[end] == '\r') return pos;
  }
  return std::string::npos;
}

// Counts the non-overlapping occurrences of needle in text.
inline std::size_t CountOf(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace keldran::test_support
