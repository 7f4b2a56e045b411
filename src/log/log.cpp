#include "log/log.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <optional>
#include <vector>

#include "log/error_text.h"
#include "log/message_ids.h"

namespace keldran {
namespace {

constexpr const char* kEventMarker = ".Log ====================";
constexpr std::uint32_t kLogFileFlags =
    file_flag::kWriteThrough | file_attribute::kNotContentIndexed;
// A file or mutex held this long is reported (once, until a record gets through); the records
// keep waiting.
constexpr std::uint32_t kReportAfterMs = 10000;
// Another host's writer holds the mutex (or the file) for one append only: a holder is tried
// again every millisecond for a second; one that holds on longer, every 100 ms.
constexpr std::uint32_t kQuickRetryForMs = 1000;
constexpr std::uint32_t kSlowRetryMs = 100;
// At exit, queued records are waited for while the writer gets on; it gives up after this long
// without a record written.
constexpr std::uint32_t kExitStallMs = 5000;
constexpr std::uint32_t kFlushPollMs = 10;
constexpr const char* kFailureTag = "Logging Failure";

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

// The record as the file gets it (it begins with CR LF CR LF and has no line break at its end),
// or none for an empty text.
std::optional<std::string> BuildRecord(const std::string& input, const char* tag,
                                       const LocalTime& now) {
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
  if (text.empty()) return std::nullopt;

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
  return NormaliseLineBreaks(std::string(k, '\n') + header + text);
}

std::string DayFilePath(const std::string& directory, const LocalTime& now) {
  return directory + Format("%04i-%02i-%02i.log", now.year, now.month, now.day);
}

// The day of a daily file's name ("2024-03-01.log"); none for any other name.
std::optional<std::int64_t> DayOfFileName(const std::string& name) {
  if (name.size() != 14 || name[4] != '-' || name[7] != '-') return std::nullopt;
  for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u}) {
    if (name[i] < '0' || name[i] > '9') return std::nullopt;
  }
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (lower(name[10]) != '.' || lower(name[11]) != 'l' || lower(name[12]) != 'o' ||
      lower(name[13]) != 'g') {
    return std::nullopt;
  }
  const int year = std::stoi(name.substr(0, 4));
  const unsigned month = static_cast<unsigned>(std::stoi(name.substr(5, 2)));
  const unsigned day = static_cast<unsigned>(std::stoi(name.substr(8, 2)));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return DayNumber(year, month, day);
}

// Holds the machine-wide log mutex for a scope.
class MutexOwner {
 public:
  MutexOwner(ISync& sync, MutexHandle mutex) : sync_(sync), mutex_(mutex) {}
  ~MutexOwner() { (void)sync_.ReleaseMutex(mutex_); }
  MutexOwner(const MutexOwner&) = delete;
  MutexOwner& operator=(const MutexOwner&) = delete;

 private:
  ISync& sync_;
  MutexHandle mutex_;
};

}  // namespace

// Only the daily files, by their name: whatever else the folder holds is left alone.
bool IsExpiredDayFile(const std::string& name, const std::string& todaysFile,
                      std::int32_t keepDays) {
  const std::optional<std::int64_t> day = DayOfFileName(name), today = DayOfFileName(todaysFile);
  return keepDays != 0 && day && today && *today - *day > keepDays;
}

std::int64_t DayNumber(int year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Log::State {
  explicit State(Platform& p) : platform(p), lock(p.sync.CreateCriticalSection(0)) {}

  struct Record {
    std::string path;
    std::string data;
  };

  // A record beyond the queue's bound is dropped; a note takes its place when the next one is
  // queued, or when the writer has caught up.
  void Enqueue(std::string path, std::string data) REQUIRES(*lock) {
    if (!queue.empty() && (queue.size() >= log_limits::kQueueRecords ||
                           queuedBytes + data.size() > log_limits::kQueueBytes)) {
      ++dropped;
      ++droppedInAll;
      droppedPath = std::move(path);
      return;
    }
    if (dropped > 0) QueueDropNote();
    queuedBytes += data.size();
    queue.push_back(Record{std::move(path), std::move(data)});
  }
  void QueueDropNote() REQUIRES(*lock) {
    const std::string text = Format(
        "Log records dropped here: %llu (the log file could not be written and the queue of "
        "records waiting for it was full)",
        static_cast<unsigned long long>(dropped));
    dropped = 0;
    if (auto note = BuildRecord(text, kFailureTag, platform.clock.LocalNow())) {
      queuedBytes += note->size();
      queue.push_back(Record{droppedPath, std::move(*note)});
    }
  }

  Platform& platform;
  std::unique_ptr<ILock> lock;
  MutexHandle mutex;
  // With its trailing backslash; empty while file logging is off.
  std::string directory GUARDED_BY(*lock);
  std::string eventSource GUARDED_BY(*lock);
  bool failure[2] GUARDED_BY(*lock) = {false, false};
  bool trace GUARDED_BY(*lock) = false;
  std::int32_t keepDays GUARDED_BY(*lock) = 0;
  EventHook hook GUARDED_BY(*lock) = nullptr;
  std::uintptr_t hookContext GUARDED_BY(*lock) = 0;

  std::deque<Record> queue GUARDED_BY(*lock);
  std::size_t queuedBytes GUARDED_BY(*lock) = 0;
  std::uint64_t dropped GUARDED_BY(*lock) = 0;  // since the last note
  std::uint64_t droppedInAll GUARDED_BY(*lock) = 0;
  std::string droppedPath GUARDED_BY(*lock);
  // Records the writer is done with, written or lost.
  std::uint64_t finished GUARDED_BY(*lock) = 0;
  bool passing GUARDED_BY(*lock) = false;  // a pass runs: passes never overlap

  // The pass's own (only the pass that runs touches it): the tick count of the first try that
  // found the file or the mutex held, and the day file it wrote last.
  std::optional<std::uint32_t> heldSince;
  std::string lastPath;

  std::unique_ptr<IWorker> writer;  // last: it stops before the rest goes
};

Log::Log(Platform& platform) : state_(std::make_unique<State>(platform)) {
  // Shared by every host process on the machine, whatever account it runs under.
  (void)platform.sync.CreateNamedMutex(kMutexName, kMutexSddl, &state_->mutex);
  state_->writer = platform.sync.StartWorker([this] { return WriteQueued(); });
}

Log::~Log() {
  Platform& p = state_->platform;
  const bool flushed = Flush(kExitStallMs);
  state_->writer.reset();
  if (!flushed) {
    std::uint64_t left;
    {
      LockGuard guard(*state_->lock);
      left = state_->queue.size() + state_->dropped;
    }
    try {
      p.texts.OutputDebugString(
          Format("\n***\n*** ERROR *** %llu log records could not be written before the end: "
                 "the log file or its mutex stayed held\n***\n",
                 static_cast<unsigned long long>(left)));
    } catch (...) {
    }
  }
  if (state_->mutex) p.sync.CloseMutex(state_->mutex);
}

void Log::setLogDir(const char* directory) noexcept {
  std::string tooLong;
  {
    LockGuard guard(*state_->lock);
    try {
      std::string dir = directory ? directory : "";
      if (!dir.empty() && dir.back() != '\\') dir += '\\';
      if (dir.size() > log_limits::kMaxLogDirectory) {
        // The path buffer has room for 245 characters of directory before the day's file name;
        // writing below a cut directory would scatter files, so file logging stays off instead.
        state_->directory.clear();
        tooLong = std::move(dir);
      } else {
        state_->directory = dir;
      }
    } catch (...) {
      state_->directory.clear();
    }
  }
  // Reported after the lock is let go: the failure path writes records of its own.
  if (!tooLong.empty())
    logFail(kLogFileFailure,
            "Could not write to log file %s\n\nThe log directory is longer than %i characters",
            tooLong.c_str(), static_cast<int>(log_limits::kMaxLogDirectory));
}

void Log::setLogKeepDays(std::int32_t days) noexcept {
  LockGuard guard(*state_->lock);
  state_->keepDays = days > 0 ? days : 0;
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

std::uint64_t Log::recordsDropped() const {
  LockGuard guard(*state_->lock);
  return state_->droppedInAll;
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
  try {
    std::optional<std::string> record;
    std::string source;
    bool trace, queued = false;
    {
      // The time is read where the record takes its place in the queue, so the file's order
      // and its times agree.
      LockGuard guard(*state_->lock);
      const LocalTime now = p.clock.LocalNow();
      record = BuildRecord(input, tag, now);
      if (!record) return;
      trace = state_->trace;
      source = state_->eventSource;
      if (!state_->directory.empty()) {
        state_->Enqueue(DayFilePath(state_->directory, now), *record);
        queued = true;
      } else {
        state_->failure[kLogFileFailure] = false;
      }
    }

    // The debugger and the event log take the record on the caller's thread: neither can be
    // held by another process the way the file and the mutex can, and no lock is held here.
    p.texts.OutputDebugString(record->substr(2) + "\r\n");
    if (trace && record->find(kEventMarker) == std::string::npos) {
      ScopedEventSource eventSource(p.eventLog);
      if (p.eventLog.RegisterSource(source, eventSource.put()) == 0) {
        (void)p.eventLog.Report(eventSource.get(), event_type::kInformation, category::kDebug,
                                event::kTrace, {*record + "\r\n"});
      }
    }
    if (queued) WakeWriter();
  } catch (...) {
    logFail(kLogFileFailure,
            "Could not write to log file\n\nThe logDebug() function threw an exception");
  }
}

void Log::WakeWriter() noexcept {
  // Without a thread of its own (none could be started) the writer runs on the caller's.
  if (state_->writer)
    state_->writer->Wake();
  else
    (void)WriteQueued();
}

bool Log::Flush(std::uint32_t stallMilliseconds) noexcept {
  IClock& clock = state_->platform.clock;
  WakeWriter();  // a drop note waits for a pass
  std::uint64_t seen = 0;
  std::uint32_t since = clock.TickCount();
  for (bool first = true;; first = false) {
    std::uint64_t finished;
    {
      LockGuard guard(*state_->lock);
      if (state_->queue.empty() && state_->dropped == 0) return true;
      finished = state_->finished;
    }
    const std::uint32_t now = clock.TickCount();
    if (first || finished != seen) {
      seen = finished;
      since = now;
    } else if (now - since >= stallMilliseconds) {
      return false;
    }
    if (!state_->writer) (void)WriteQueued();
    clock.Sleep(kFlushPollMs);
  }
}

std::uint32_t Log::WriteQueued() noexcept {
  State& s = *state_;
  {
    LockGuard guard(*s.lock);
    if (s.passing) return 0;  // the pass under way takes what was queued meanwhile
    s.passing = true;
  }
  for (;;) {
    State::Record record;
    Append outcome;
    try {
      {
        LockGuard guard(*s.lock);
        if (s.queue.empty() && s.dropped > 0) s.QueueDropNote();
        if (s.queue.empty()) {
          s.passing = false;
          s.heldSince.reset();
          return 0;
        }
        record = s.queue.front();
      }
      outcome = AppendRecord(record.path, record.data);
    } catch (...) {
      logFail(kLogFileFailure, "Could not write to log file\n\nThe log writer threw an exception");
      outcome = Append::kLost;
    }

    if (outcome == Append::kMutexHeld || outcome == Append::kFileHeld) {
      // Another program holds the file without sharing it for writing, or another process
      // holds the mutex: the record stays first in the queue and is tried again.
      const std::uint32_t now = s.platform.clock.TickCount();
      if (!s.heldSince) {
        s.heldSince = now;
      } else if (now - *s.heldSince >= kReportAfterMs) {
        if (outcome == Append::kFileHeld) {
          s.platform.texts.SetLastError(win32_error::kTimeout);
          logFail(kLogFileFailure,
                  "Could not write to log file %s\n\nTimeout after waiting %i seconds\n\nThis "
                  "probably means another application is writing to the same file",
                  record.path.c_str(), static_cast<int>(kReportAfterMs / 1000));
        } else {
          logFail(kLogFileFailure,
                  "Could not write to log file %s\n\nUnable to acquire logDebug mutex\n\nTimeout "
                  "after waiting %i milliseconds",
                  record.path.c_str(), static_cast<int>(kReportAfterMs));
        }
      }
      LockGuard guard(*s.lock);
      s.passing = false;
      return now - *s.heldSince < kQuickRetryForMs ? 1 : kSlowRetryMs;
    }

    if (outcome == Append::kWritten && record.path != s.lastPath) {
      s.lastPath = record.path;
      RemoveOldDayFiles(record.path);
    }
    LockGuard guard(*s.lock);
    if (!s.queue.empty()) {
      s.queuedBytes -= s.queue.front().data.size();
      s.queue.pop_front();
    }
    ++s.finished;
    // A written record clears a reported file failure; a lost one was reported itself.
    if (outcome == Append::kWritten) s.failure[kLogFileFailure] = false;
    s.heldSince.reset();
  }
}

void Log::RemoveOldDayFiles(const std::string& dayFile) noexcept {
  State& s = *state_;
  std::int32_t keepDays;
  {
    LockGuard guard(*s.lock);
    keepDays = s.keepDays;
  }
  const std::size_t slash = dayFile.rfind('\\');
  if (keepDays == 0 || slash == std::string::npos) return;
  try {
    const std::string folder = dayFile.substr(0, slash);
    for (const std::string& name : s.platform.files.ListFiles(folder)) {
      if (IsExpiredDayFile(name, dayFile.substr(slash + 1), keepDays)) {
        (void)s.platform.files.DeleteFile(s.platform.texts.AnsiToWide(folder + "\\" + name));
      }
    }
  } catch (...) {
    // Removing old files is housekeeping: a failure leaves them for the next day.
  }
}

// Makes the folder and the folders above it that are missing.
void Log::CreateFolder(const std::string& folder) noexcept {
  IFileSystem& files = state_->platform.files;
  try {
    const std::size_t slash = folder.rfind('\\');
    if (files.PathFileExists(folder)) return;
    if (slash != std::string::npos && slash > 2) CreateFolder(folder.substr(0, slash));
    (void)files.CreateDirectory(folder);
  } catch (...) {
  }
}

Log::Append Log::AppendRecord(const std::string& path, const std::string& data) noexcept {
  Platform& p = state_->platform;
  try {
    const std::uint32_t waited = p.sync.WaitForMutex(state_->mutex, 0);
    if (waited == wait_result::kTimeout) return Append::kMutexHeld;
    // An abandoned mutex still gives this process the file: the other owner died.
    if (waited != wait_result::kObject0 && waited != wait_result::kAbandoned) {
      logFail(kLogFileFailure,
              "Could not write to log file %s\n\nUnable to acquire logDebug mutex%s", path.c_str(),
              errorText(p.texts, 0).c_str());
      return Append::kLost;
    }
    const auto length = static_cast<std::uint32_t>(data.size());
    Win32Error openError, writeError = 0;
    std::uint32_t written = 0;
    {
      // The mutex is held for one open and one append only, never while the file is waited for:
      // a file held in one log folder must not stop hosts that write to another.
      MutexOwner owner(p.sync, state_->mutex);
      FileHandle handle;
      openError = p.files.CreateFile(path, file_access::kGenericWrite, file_share::kRead,
                                     file_creation::kOpenAlways, kLogFileFlags, &handle);
      if (openError == win32_error::kPathNotFound) {
        // A log folder that does not exist yet is made, with the folders above it.
        CreateFolder(path.substr(0, path.rfind('\\')));
        openError = p.files.CreateFile(path, file_access::kGenericWrite, file_share::kRead,
                                       file_creation::kOpenAlways, kLogFileFlags, &handle);
      }
      if (openError == 0) {
        // Opened, appended and closed for every record, so that other processes and viewers
        // share the file between records.
        ScopedFile file(p.files, handle);
        (void)p.files.SetFilePointer(file.get(), 0, file_move::kEnd);
        writeError = p.files.WriteFile(file.get(), data.data(), length, &written);
        (void)p.files.FlushFileBuffers(file.get());
      }
    }
    if (openError == win32_error::kSharingViolation) return Append::kFileHeld;
    if (openError != 0 || writeError != 0) {
      logFail(kLogFileFailure, "Could not write to log file %s%s", path.c_str(),
              errorText(p.texts, openError != 0 ? openError : writeError).c_str());
      return Append::kLost;
    }
    if (written < length) {
      logFail(kLogFileFailure,
              "Could not write to log file %s\n\nWriteFile didn't write all data (nData=%08X, "
              "nWritten=%08X)",
              path.c_str(), length, written);
      return Append::kLost;
    }
    return Append::kWritten;
  } catch (...) {
    logFail(kLogFileFailure, "Could not write to log file %s\n\nThe log writer threw an exception",
            path.c_str());
    return Append::kLost;
  }
}

void Log::logFail(int kind, const char* format, ...) noexcept {
  Platform& p = state_->platform;
  kind &= 1;
  char message[log_limits::kMaxFailureMessage + 1] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  try {
    std::string source;
    bool fileFailing;
    {
      LockGuard guard(*state_->lock);
      if (state_->failure[kind]) return;
      state_->failure[kind] = true;
      source = state_->eventSource;
      fileFailing = state_->failure[kLogFileFailure];
    }
    p.texts.OutputDebugString("\n***\n*** ERROR *** See details below ***\n***\n");
    p.texts.OutputDebugString(message);
    p.texts.OutputDebugString("\n***\n*** ERROR *** See details above ***\n***\n");
    ScopedEventSource eventSource(p.eventLog);
    if (p.eventLog.RegisterSource(source, eventSource.put()) == 0) {
      if (Win32Error e = p.eventLog.Report(eventSource.get(), event_type::kError,
                                           category::kLoggingFailure, event::kText, {message})) {
        p.texts.OutputDebugString(
            "\n\n***\n*** ERROR *** The logFail() could not write to event log\n***" +
            errorText(p.texts, e) + "\n");
      }
    }
    eventSource.reset();
    if (kind == kEventLogFailure && !fileFailing) logDebug(message, kFailureTag);
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

    Win32Error eventLogError;
    {
      ScopedEventSource source(p.eventLog);
      eventLogError = p.eventLog.RegisterSource(eventSourceName(), source.put());
      if (eventLogError == 0)
        eventLogError = p.eventLog.Report(source.get(), type, category, id, {insertion});
    }

    record += std::string(" ==================== ") + LevelName(type) + kEventMarker + "\r\n\r\n";
    // A message the table lacks (a client may name any number), or an insertion longer than the
    // message buffer, cannot be formatted: the insertion text then stands for the message, so
    // that the record still says what was reported.
    std::string message = p.texts.ModuleMessage(id, insertion).value_or(insertion);
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

    // The record is in the file; that the event log did not take it is said once, until an
    // event goes through again.
    if (eventLogError != 0) {
      logFail(kEventLogFailure, "Could not write an event to Windows Event Log%s",
              errorText(p.texts, eventLogError).c_str());
      return;
    }
    LockGuard guard(*state_->lock);
    state_->failure[kEventLogFailure] = false;
  } catch (...) {
    logFail(kEventLogFailure,
            "Could not write an event to Windows Event Log\n\nThe logEvent() function threw an "
            "exception");
  }
}

}  // namespace keldran
