#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "log/error_text.h"

namespace keldran {
namespace {

constexpr const char* kEventMarker = ".Log ====================";
constexpr std::uint32_t kLogFileFlags =
    file_flag::kWriteThrough | file_attribute::kNotContentIndexed;
constexpr std::uint32_t kMutexWaitMs = 10000;
constexpr int kOpenRetrySeconds = 10;

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }
bool IsBreakOrBlank(char c) { return IsLineBreak(c) || c == ' '; }

const char* LevelName(std::uint16_t type) {
  switch (type) {
    case event_type::kError:
      return "ERROR";
    case event_type::kWarning:
      return "WARNING";
    case event_type::kInformation:
      return "INFO";
    default:
      return "";
  }
}

// Every lone LF or CR becomes CR LF; CR LF pairs stay.
std::string NormaliseLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8 + 4);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

struct Log::State {
  explicit State(Platform& p) : platform(p), lock(p.sync.CreateCriticalSection(0)) {}
  Platform& platform;
  std::unique_ptr<ILock> lock;
  MutexHandle mutex;
  std::string directory;  // with its trailing backslash; empty while file logging is off
  std::string eventSource;
  bool failure[2] = {false, false};
  bool trace = false;
  EventHook hook = nullptr;
  std::uintptr_t hookContext = 0;
};

Log::Log(Platform& platform) : state_(std::make_unique<State>(platform)) {
  // Shared by every host process on the machine, whatever account it runs under.
  (void)platform.sync.CreateNamedMutex(kMutexName, kMutexSddl, &state_->mutex);
}

Log::~Log() {
  if (state_->mutex) state_->platform.sync.CloseMutex(state_->mutex);
}

void Log::setLogDir(const char* directory) noexcept {
  LockGuard guard(*state_->lock);
  try {
    std::string dir = directory ? directory : "";
    if (!dir.empty() && dir.back() != '\\') dir += '\\';
    if (dir.size() > log_limits::kMaxLogDirectory) {
      // The path buffer has room for 245 characters of directory before the day's file name;
      // writing below a cut directory would scatter files, so file logging stays off instead.
      state_->directory.clear();
      logFail(kLogFileFailure,
              "Could not write to log file %s\n\nThe log directory is longer than %i characters",
              dir.c_str(), static_cast<int>(log_limits::kMaxLogDirectory));
      return;
    }
    state_->directory = dir;
  } catch (...) {
    state_->directory.clear();
  }
}

void Log::setLogTrace(bool on) noexcept {
  LockGuard guard(*state_->lock);
  state_->trace = on;
}

void Log::setEventSourceName(const std::string& name) noexcept {
  LockGuard guard(*state_->lock);
  try {
    // The name buffer holds 259 characters.
    state_->eventSource = name.substr(0, 259);
  } catch (...) {
  }
}

std::string Log::eventSourceName() const {
  LockGuard guard(*state_->lock);
  return state_->eventSource;
}

void Log::setEventHook(EventHook hook, std::uintptr_t context) noexcept {
  LockGuard guard(*state_->lock);
  state_->hook = hook;
  state_->hookContext = context;
}

bool Log::failureReported(int kind) const {
  LockGuard guard(*state_->lock);
  return state_->failure[kind & 1];
}

bool Log::fileLoggingOn() const {
  LockGuard guard(*state_->lock);
  return !state_->directory.empty();
}

bool Log::traceOn() const {
  LockGuard guard(*state_->lock);
  return state_->trace;
}

void Log::logDebug(const std::string& input, const char* tag) noexcept {
  Platform& p = state_->platform;
  LockGuard guard(*state_->lock);
  try {
    const LocalTime now = p.clock.LocalNow();
    const bool fileOn = !state_->directory.empty();
    std::string path;
    if (fileOn) {
      path = state_->directory + Format("%04i-%02i-%02i.log", now.year, now.month, now.day);
    }

    std::string header;
    if (tag) {
      // The header buffer holds 259 characters: a longer tag is cut to fit.
      const std::string cutTag = std::string(tag).substr(0, log_limits::kMaxTag);
      header = Format("\r\n\r\n#%02i:%02i:%02i.%03i#%s# ", now.hour, now.minute, now.second,
                      now.milliseconds, cutTag.c_str());
    } else {
      header = Format("\r\n\r\n#%02i:%02i:%02i.%03i## ", now.hour, now.minute, now.second,
                      now.milliseconds);
    }

    // NUL bytes carry nothing (a C string would have ended there), so they go before the text
    // is trimmed: a text of NULs only is empty, and NULs never shield trailing blanks.
    std::string text = input;
    std::erase(text, '\0');
    // Trailing line breaks and blanks go, unless that is all there is.
    std::size_t end = text.size();
    while (end > 0 && IsBreakOrBlank(text[end - 1])) --end;
    if (end > 0) text.resize(end);
    if (text.empty()) return;

    std::size_t k = 0;
    std::size_t breaks = 0;
    while (breaks < text.size() && IsLineBreak(text[breaks])) ++breaks;
    auto dropLeadingBlanks = [](std::string& s) {
      std::size_t b = 0;
      while (b < s.size() && s[b] == ' ') ++b;
      if (b > 0 && b < s.size()) s.erase(0, b);
    };
    if (breaks > 0 && breaks < text.size()) {
      std::size_t lineFeeds = 0;
      for (std::size_t i = 0; i < breaks; ++i) lineFeeds += text[i] == '\n';
      text.erase(0, breaks);
      const bool startsWithBlank = text[0] == ' ';
      dropLeadingBlanks(text);
      // Two or more line breaks before the text put it on the line below the header; the
      // breaks beyond two come before the header.
      if (lineFeeds >= 2 && !startsWithBlank) header += "\r\n";
      k = lineFeeds >= 2 ? lineFeeds - 2 : 0;
    } else if (breaks == 0) {
      dropLeadingBlanks(text);
    }

    std::string record = NormaliseLineBreaks(std::string(k, '\n') + header + text);
    const std::size_t length = record.size();
    record += "\r\n";

    p.texts.OutputDebugString(record.substr(2));

    if (state_->trace && record.find(kEventMarker) == std::string::npos) {
      ScopedEventSource source(p.eventLog);
      if (p.eventLog.RegisterSource(state_->eventSource, source.put()) == 0) {
        (void)p.eventLog.Report(source.get(), event_type::kInformation, 6, 1000, {record});
      }
    }

    if (fileOn) {
      const std::uint32_t wait = state_->failure[kLogFileFailure] ? 0 : kMutexWaitMs;
      const std::uint32_t result = p.sync.WaitForMutex(state_->mutex, wait);
      // An abandoned mutex still gives this process the file: the other owner died.
      if (result != wait_result::kObject0 && result != wait_result::kAbandoned) {
        logFail(kLogFileFailure,
                "Could not write to log file %s\n\nUnable to acquire logDebug mutex\n\nTimeout "
                "after waiting %i milliseconds",
                path.c_str(), static_cast<int>(wait));
        return;
      }
      const bool written = logFileWrite(path, record.data(), static_cast<std::uint32_t>(length));
      (void)p.sync.ReleaseMutex(state_->mutex);
      if (!written) return;
    }
    state_->failure[kLogFileFailure] = false;
  } catch (...) {
    logFail(kLogFileFailure,
            "Could not write to log file\n\nThe logDebug() function threw an exception");
  }
}

bool Log::logFileWrite(const std::string& path, const char* data, std::uint32_t length) noexcept {
  IFileSystem& files = state_->platform.files;
  try {
    ScopedFile file(files, logFileOpen(path, file_access::kGenericWrite, file_share::kRead,
                                       file_creation::kOpenAlways, kLogFileFlags));
    if (!file) return false;
    // Opened, appended and closed for every record, so that other processes and viewers share
    // the file between records.
    (void)files.SetFilePointer(file.get(), 0, file_move::kEnd);
    std::uint32_t written = 0;
    const Win32Error writeError = files.WriteFile(file.get(), data, length, &written);
    (void)files.FlushFileBuffers(file.get());
    file.reset();
    if (writeError != 0) {
      logFail(kLogFileFailure, "Could not write to log file %s%s", path.c_str(),
              errorText(state_->platform.texts, writeError).c_str());
      return false;
    }
    if (written < length) {
      logFail(kLogFileFailure,
              "Could not write to log file %s\n\nWriteFile didn't write all data (nData=%08X, "
              "nWritten=%08X)",
              path.c_str(), length, written);
      return false;
    }
    return true;
  } catch (...) {
    logFail(kLogFileFailure,
            "Could not write to log file %s\n\nThe logFileWrite() function threw an exception",
            path.c_str());
    return false;
  }
}

FileHandle Log::logFileOpen(const std::string& path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t creation, std::uint32_t flags) noexcept {
  Platform& p = state_->platform;
  FileHandle file;
  try {
    const std::int64_t start = p.clock.Time64();
    const bool snapshot = failureReported(kLogFileFailure);
    const int limit = snapshot ? 0 : kOpenRetrySeconds;
    for (;;) {
      const Win32Error error = p.files.CreateFile(path, access, share, creation, flags, &file);
      if (error == 0) return file;
      if (error != win32_error::kSharingViolation) {
        logFail(kLogFileFailure, "Could not write to log file %s%s", path.c_str(),
                errorText(p.texts, error).c_str());
        return FileHandle{};
      }
      // Another program holds the file without sharing it for writing: wait for it a while,
      // unless a failure is already reported.
      if (failureReported(kLogFileFailure) || p.clock.Time64() - start >= limit) break;
      p.clock.Sleep(1);
    }
    p.texts.SetLastError(win32_error::kTimeout);
    logFail(kLogFileFailure,
            "Could not write to log file %s\n\nTimeout after waiting %i seconds\n\nThis probably "
            "means another application is writing to the same file",
            path.c_str(), limit);
    return FileHandle{};
  } catch (...) {
    logFail(kLogFileFailure,
            "Could not open to log file %s\n\nThe logFileOpen() function threw an exception",
            path.c_str());
    if (file) p.files.CloseFile(file);
    return FileHandle{};
  }
}

void Log::logFail(int kind, const char* format, ...) noexcept {
  Platform& p = state_->platform;
  kind &= 1;
  LockGuard guard(*state_->lock);
  if (state_->failure[kind]) return;
  state_->failure[kind] = true;
  char message[log_limits::kMaxFailureMessage + 1] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  try {
    p.texts.OutputDebugString("\n***\n*** ERROR *** See details below ***\n***\n");
    p.texts.OutputDebugString(message);
    p.texts.OutputDebugString("\n***\n*** ERROR *** See details above ***\n***\n");
    ScopedEventSource source(p.eventLog);
    if (p.eventLog.RegisterSource(state_->eventSource, source.put()) == 0) {
      if (Win32Error e = p.eventLog.Report(source.get(), event_type::kError, 13, 1001, {message})) {
        p.texts.OutputDebugString(
            "\n\n***\n*** ERROR *** The logFail() could not write to event log\n***" +
            errorText(p.texts, e) + "\n");
      }
    }
    source.reset();
    if (kind == kEventLogFailure && !state_->failure[kLogFileFailure])
      logDebug(message, "Logging Failure");
  } catch (...) {
    p.texts.OutputDebugString(
        "\n\n***\n*** ERROR *** The logFail() function threw an exception trying to log message "
        "the message below:\n***\n");
    p.texts.OutputDebugString(message);
    p.texts.OutputDebugString("\n");
  }
}

void Log::logEvent(std::uint16_t type, std::uint16_t category, std::uint32_t id,
                   const char* const* strings, int count, const char* tag) noexcept {
  Platform& p = state_->platform;
  try {
    std::string insertion;
    // No array means no strings, whatever the count says.
    for (int i = 0; strings && i < count; ++i) {
      if (!strings[i] || !*strings[i]) continue;
      if (!insertion.empty()) insertion += ' ';
      insertion += strings[i];
    }
    // Leading line breaks and blanks belong to the log record, not to the event.
    std::string record;
    const std::size_t first = insertion.find_first_not_of("\n\r ");
    if (first != std::string::npos && first > 0) {
      record = insertion.substr(0, first);
      insertion.erase(0, first);
    }

    {
      ScopedEventSource source(p.eventLog);
      if (p.eventLog.RegisterSource(eventSourceName(), source.put()) == 0) {
        (void)p.eventLog.Report(source.get(), type, category, id, {insertion});
      }
    }

    record += std::string(" ==================== ") + LevelName(type) + kEventMarker + "\r\n\r\n";
    // An insertion longer than the message buffer makes the formatting fail: the record then
    // holds the banner only, and the event log still has the whole insertion.
    std::string message = p.texts.ModuleMessage(id, insertion).value_or("");
    while (!message.empty() && IsLineBreak(message.back())) message.pop_back();
    if (!message.empty()) record += message;
    while (!record.empty() && IsBreakOrBlank(record.back())) record.pop_back();
    while (!message.empty() && IsBreakOrBlank(message.back())) message.pop_back();

    logDebug(record, tag);

    EventHook hook;
    std::uintptr_t context;
    {
      LockGuard guard(*state_->lock);
      hook = state_->hook;
      context = state_->hookContext;
    }
    if (hook) hook(context, message.c_str(), type);

    LockGuard guard(*state_->lock);
    state_->failure[kEventLogFailure] = false;
  } catch (...) {
    logFail(kEventLogFailure,
            "Could not write an event to Windows Event Log\n\nThe logEvent() function threw an "
            "exception");
  }
}

}  // namespace keldran
