#pragma once
// The host's diagnostics: one record writer shared by every thread of the process, appending
// each record to the day's log file (serialised across processes by a global mutex), sending it
// to the debugger and, with tracing, to the event log; the event writer built on it; and the
// once-only reporting of failures of the logging machinery itself. Logging never fails towards
// its caller, never throws, and never waits for the file or the mutex: records go through a
// bounded queue to a writer thread of their own.
//
// Threads: any thread logs; the writer's passes run on its worker thread (or, in the fake, on the
// caller's thread and in virtual time), one pass at a time. The queue, the settings and the
// failure flags are kept under the log lock, which is never held while waiting for anything; the
// writer holds the machine-wide mutex only around one open and append.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace keldran {

// Called after each event with the hook's context word, the event's message text and its type.
using EventHook = void (*)(std::uintptr_t context, const char* text, std::uint16_t type);

namespace log_limits {
// The log path buffer holds 259 characters: the directory with its backslash may take 245,
// leaving room for the 14-character file name. A longer directory is refused: file logging
// stays off and one log-file failure is reported.
constexpr std::size_t kMaxLogDirectory = 245;
// The header buffer holds 259 characters, so a tag may take 239; a longer one is cut.
constexpr std::size_t kMaxTag = 239;
// A formatted logging-failure message holds 779 characters; the rest is cut.
constexpr std::size_t kMaxFailureMessage = 779;
// FormatMessage's buffer for an event's message text. A message that does not fit stands in the
// record as its insertion text alone, as one that the table lacks does. Record texts themselves
// have no limit (NUL bytes in them are dropped).
constexpr std::size_t kMessageBuffer = 40960;
// The queue between the callers and the writer holds at most 4096 records and 4 MiB of record
// text (a lone record of any size is taken). A held file or mutex delays records; beyond the
// bound a new record is dropped whole, and a note in the file where it would have been says how
// many were dropped. At most that many records are thus in memory at once.
constexpr std::size_t kQueueRecords = 4096;
constexpr std::size_t kQueueBytes = 4 * 1024 * 1024;
}  // namespace log_limits

// Days since 1970-01-01 of a civil date (proleptic Gregorian): the age of a daily file.
std::int64_t DayNumber(int year, unsigned month, unsigned day);
// Whether LogKeepDays retention removes the file of this name when today's daily file is
// todaysFile: only daily files ("2024-03-01.log") more than keepDays days old, none with 0.
bool IsExpiredDayFile(const std::string& name, const std::string& todaysFile,
                      std::int32_t keepDays);

class Log {
 public:
  static constexpr const char* kMutexName =
      "Global\\Keldran.Mutex:Log:{9B4E1D72-A6C3-4E58-B0F7-3C81D2E5A694}";
  // Everyone may wait on the mutex and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE), which is
  // all that appending needs, and nothing more: not change its permissions or owner.
  static constexpr const char* kMutexSddl = "D:P(A;;0x100001;;;WD)";

  // Failure kinds of logFail.
  static constexpr int kLogFileFailure = 0;
  static constexpr int kEventLogFailure = 1;

  // Creates the log lock, the global log mutex and the writer; file logging starts off.
  explicit Log(Platform& platform);
  // Writes what is still queued first, for as long as the writer makes progress (see Flush).
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // One record; tag may be null (no tag). Queued for the file, never waited for.
  void logDebug(const std::string& text, const char* tag) noexcept;
  // Waits until every queued record is written, or until the writer has written none for
  // stallMilliseconds (the file or the mutex stays held); true when nothing is left queued.
  bool Flush(std::uint32_t stallMilliseconds) noexcept;
  // The log directory; null or empty turns file logging off.
  void setLogDir(const char* directory) noexcept;
  void setLogTrace(bool on) noexcept;
  // Daily files older than this many days are removed from the log folder when a new day's file
  // is started; 0 keeps them all.
  void setLogKeepDays(std::int32_t days) noexcept;

  // The name under which this process reports events (set by the configuration load).
  void setEventSourceName(const std::string& name) noexcept;
  std::string eventSourceName() const;

  // One event: type (1 error, 2 warning, 4 information), category, message id, up to four
  // insertion strings (each may be null) and the log tag.
  void logEvent(std::uint16_t type, std::uint16_t category, std::uint32_t id,
                const char* const* strings, int count, const char* tag) noexcept;
  void setEventHook(EventHook hook, std::uintptr_t context) noexcept;

  void logFail(int kind, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));

  // Records dropped because the queue was full, since the host started.
  std::uint64_t recordsDropped() const;

  // State, for tests and diagnostics.
  bool failureReported(int kind) const;
  bool fileLoggingOn() const;
  bool traceOn() const;

 private:
  enum class Append { kWritten, kLost, kMutexHeld, kFileHeld };
  struct State;

  // The writer's pass: appends queued records in order until the queue is empty (0) or the file
  // or the mutex is held elsewhere (the delay before the next try).
  std::uint32_t WriteQueued() noexcept;
  // One record: the mutex, one open, the append; it never waits.
  Append AppendRecord(const std::string& path, const std::string& data) noexcept;
  void WakeWriter() noexcept;
  // A new day's file: older daily files go when the settings say so.
  void RemoveOldDayFiles(const std::string& dayFile) noexcept;
  void CreateFolder(const std::string& folder) noexcept;

  std::unique_ptr<State> state_;
};

}  // namespace keldran
