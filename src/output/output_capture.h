#pragma once
// OutputCapture: a client's standard output and error, read from pipes on a thread of their own
// and written, line by line, to the component's daily output file in the log folder. The client
// never waits for the host: the pipes are drained whatever becomes of the lines (no folder, a
// file that cannot be written, the day's cap reached). The file has one writer, since one host
// of a component runs at a time, so it goes neither through the log's queue nor its mutex.
//
// Threads: the run-loop thread attaches the pipes to a client's start, finishes its capture when
// it ends, and asks for the file's name; the pipe reader's thread (one per client) frames and
// writes what the client printed. The settings, the file, the day's budget, the lines under way,
// the ended pipes and the tail are kept under the capture lock, which the reader holds for one
// framing and one write; it is never held while logging or while the reader is stopped.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "log/component_log.h"
#include "output/output_text.h"
#include "platform/platform.h"

namespace keldran {

struct OutputSettings {
  std::string directory;  // the log folder; empty: no file (the pipes are still drained)
  std::string component;
  std::uint64_t capBytes = 0;  // the day's cap; 0: none
  std::int32_t keepDays = 0;   // LogKeepDays: older output files of the component go
};

// Makes the folder and the folders above it that are missing.
void MakeFolders(IFileSystem& files, const std::string& folder);

class OutputCapture {
 public:
  // A client that has ended is given this long for its pipes to end (the last output still in
  // them is read) before reading stops; a grandchild that keeps a write end open then writes
  // into a broken pipe, never into a full one.
  static constexpr std::uint32_t kDrainMs = 500;

  OutputCapture(Platform& platform, ComponentLog& events);
  // Stops reading.
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // Before a client starts: pipes for its standard output and error, named in its start-up. On
  // failure the start-up stays as it was and the error says why.
  [[nodiscard]] Win32Error Attach(const OutputSettings& settings, ChildStartup* startup)
      EXCLUDES(*lock_);
  // After the start, whether or not the client started: the host's copies of the write ends go,
  // and a started client's pipes are read from now on. Not 0: no thread could read them.
  [[nodiscard]] Win32Error Started(bool started) EXCLUDES(*lock_);
  // The client has ended: its pipes get kDrainMs to end, reading stops, an unfinished line and
  // the cap's note are written. Returns the tail of standard error ("a | b | c"); once more for
  // the same client, the same.
  std::string Finish() EXCLUDES(*lock_);
  // The file that today's lines go to; empty without one.
  std::string FilePath() const;

 private:
  // Reader thread.
  void OnData(std::size_t pipe, std::string_view data) EXCLUDES(*lock_);
  // Today's file, opened (the old day's note written and retention done first). Returns a
  // warning to log once the lock is let go, or empty.
  std::string PrepareDay(const LocalTime& now, const std::string& stamp) REQUIRES(*lock_);
  void Write(const std::string& text) REQUIRES(*lock_);
  void CloseWriteEnds() REQUIRES(*lock_);

  Platform& platform_;
  ComponentLog& events_;
  std::unique_ptr<ILock> lock_;
  OutputSettings settings_ GUARDED_BY(*lock_);
  bool active_ GUARDED_BY(*lock_) = false;  // a client's capture runs (until Finish)
  ScopedPipe readEnds_[2] GUARDED_BY(*lock_);
  ScopedPipe writeEnds_[2] GUARDED_BY(*lock_);
  LineState lines_[2] GUARDED_BY(*lock_);
  int ended_ GUARDED_BY(*lock_) = 0;  // pipes that ended
  std::deque<std::string> tail_ GUARDED_BY(*lock_);
  DayBudget day_ GUARDED_BY(*lock_);
  ScopedFile file_ GUARDED_BY(*lock_);
  std::string filePath_ GUARDED_BY(*lock_);  // the open file's path, or the one that failed to open
  std::string failedPath_ GUARDED_BY(*lock_);  // a file that could not be opened, warned of once
  std::unique_ptr<IPipeReader> reader_ GUARDED_BY(*lock_);  // taken out of the lock to be stopped
};

}  // namespace keldran
