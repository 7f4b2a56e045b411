#include "output/output_capture.h"

#include "log/error_text.h"

namespace keldran {
namespace {

constexpr std::uint32_t kDrainPollMs = 10;

OutputStream StreamOf(std::size_t pipe) {
  return pipe == 0 ? OutputStream::kOut : OutputStream::kErr;
}

}  // namespace

void MakeFolders(IFileSystem& files, const std::string& folder) {
  if (folder.empty() || files.PathFileExists(folder)) return;
  const std::size_t slash = folder.rfind('\\');
  if (slash != std::string::npos && slash > 2) MakeFolders(files, folder.substr(0, slash));
  (void)files.CreateDirectory(folder);
}

OutputCapture::OutputCapture(Platform& platform, ComponentLog& events)
    : platform_(platform),
      events_(events),
      lock_(platform.sync.CreateCriticalSection(0)),
      readEnds_{ScopedPipe(platform.processes), ScopedPipe(platform.processes)},
      writeEnds_{ScopedPipe(platform.processes), ScopedPipe(platform.processes)},
      file_(platform.files) {}

OutputCapture::~OutputCapture() { reader_.reset(); }

Win32Error OutputCapture::Attach(const OutputSettings& settings, ChildStartup* startup) {
  bool unfinished;
  {
    LockGuard guard(*lock_);
    unfinished = active_;
  }
  // The previous client's capture ends before the next client's begins.
  if (unfinished) (void)Finish();
  LockGuard guard(*lock_);
  settings_ = settings;
  for (int i = 0; i < 2; ++i) {
    readEnds_[i].reset();
    writeEnds_[i].reset();
    FileHandle read, write;
    if (const Win32Error e = platform_.processes.CreateOutputPipe(&read, &write)) {
      CloseWriteEnds();
      readEnds_[0].reset();
      return e;
    }
    readEnds_[i].reset(read);
    writeEnds_[i].reset(write);
  }
  startup->standardOutput = writeEnds_[0].get();
  startup->standardError = writeEnds_[1].get();
  return 0;
}

void OutputCapture::CloseWriteEnds() {
  for (ScopedPipe& end : writeEnds_) end.reset();
}

Win32Error OutputCapture::Started(bool started) {
  std::vector<FileHandle> readEnds;
  {
    LockGuard guard(*lock_);
    // The pipes end only when every write end is closed: the host's own copies go at once.
    CloseWriteEnds();
    for (LineState& line : lines_) line = LineState{};
    ended_ = 0;
    tail_.clear();
    if (!readEnds_[0]) return 0;
    if (!started) {
      for (ScopedPipe& end : readEnds_) end.reset();
      return 0;
    }
    for (ScopedPipe& end : readEnds_) readEnds.push_back(end.release());
    active_ = true;
  }
  // Outside the lock: a reader may deliver at once, on this thread or its own.
  std::unique_ptr<IPipeReader> reader = platform_.processes.StartPipeReader(
      std::move(readEnds), [this](std::size_t pipe, std::string_view data) { OnData(pipe, data); });
  LockGuard guard(*lock_);
  if (!reader) {
    active_ = false;
    return win32_error::kNotEnoughMemory;
  }
  reader_ = std::move(reader);
  return 0;
}

void OutputCapture::OnData(std::size_t pipe, std::string_view data) {
  const LocalTime now = platform_.clock.LocalNow();
  const std::string stamp = TimeStamp(now);
  std::string warning;
  {
    LockGuard guard(*lock_);
    if (data.empty()) {
      ++ended_;
      // A client that wrote nothing leaves no file.
      if (lines_[pipe].partial.empty()) {
        lines_[pipe] = LineState{};
        return;
      }
    }
    warning = PrepareDay(now, stamp);
    const OutputStream stream = StreamOf(pipe);
    // Without a file, standard output has nothing to go to; standard error still feeds the tail.
    if (file_ || stream == OutputStream::kErr) {
      Framed framed = FrameOutput(lines_[pipe], day_, stream, stamp, data, data.empty());
      if (stream == OutputStream::kErr) KeepTail(tail_, framed.lines);
      Write(framed.text);
    }
  }
  if (!warning.empty()) events_.logWarning(category::kRun, event::kText, warning.c_str());
}

std::string OutputCapture::PrepareDay(const LocalTime& now, const std::string& stamp) {
  if (settings_.directory.empty()) return {};
  const std::string folder = settings_.directory;
  const std::string path = folder + "\\" + OutputFileName(settings_.component, now);
  if (path == filePath_) return {};
  // A new day: the old day's file gets its note, and the new day its own budget.
  Write(DropNote(day_, stamp));
  file_.reset();
  filePath_ = path;
  day_ = DayBudget{settings_.capBytes};
  IFileSystem& files = platform_.files;
  auto open = [&]() REQUIRES(*lock_) {
    return files.CreateFile(path, file_access::kGenericWrite,
                            file_share::kRead | file_share::kDelete, file_creation::kOpenAlways,
                            file_attribute::kNormal, file_.put());
  };
  Win32Error e = open();
  if (e == win32_error::kPathNotFound) {
    MakeFolders(files, folder);
    e = open();
  }
  if (e == 0) e = files.SetFilePointer(file_.get(), 0, file_move::kEnd);
  if (e == 0) e = files.GetFileSize(file_.get(), &day_.size);
  if (e != 0) {
    file_.reset();
    if (std::exchange(failedPath_, path) == path) return {};
    return "The client's output cannot be written to " + path + errorText(platform_.texts, e) +
           "\nIt is read and dropped.";
  }
  try {
    for (const std::string& name :
         OldOutputFiles(files.ListFiles(folder), settings_.component, now, settings_.keepDays)) {
      (void)files.DeleteFile(platform_.texts.AnsiToWide(folder + "\\" + name));
    }
  } catch (...) {
    // Removing old files is housekeeping: a failure leaves them for the next day.
  }
  return {};
}

void OutputCapture::Write(const std::string& text) {
  if (text.empty() || !file_) return;
  std::uint32_t written = 0;
  (void)platform_.files.WriteFile(file_.get(), text.data(), static_cast<std::uint32_t>(text.size()),
                                  &written);
}

std::string OutputCapture::Finish() {
  {
    LockGuard guard(*lock_);
    if (!active_) return TailText(tail_);
  }
  IClock& clock = platform_.clock;
  const std::uint32_t since = clock.TickCount();
  for (;;) {
    {
      LockGuard guard(*lock_);
      if (ended_ >= 2) break;
    }
    if (clock.TickCount() - since >= kDrainMs) break;
    clock.Sleep(kDrainPollMs);
  }
  std::unique_ptr<IPipeReader> reader;
  {
    LockGuard guard(*lock_);
    reader = std::move(reader_);
  }
  reader.reset();  // waits for the thread, which may want the lock for a last write
  const LocalTime now = platform_.clock.LocalNow();
  const std::string stamp = TimeStamp(now);
  std::string warning;
  std::string tail;
  {
    LockGuard guard(*lock_);
    active_ = false;
    const bool pending =
        !lines_[0].partial.empty() || !lines_[1].partial.empty() || day_.droppedLines > 0;
    if (pending) warning = PrepareDay(now, stamp);
    // What a pipe that did not end still held is a line of its own.
    for (std::size_t pipe = 0; pipe < 2; ++pipe) {
      Framed framed = FrameOutput(lines_[pipe], day_, StreamOf(pipe), stamp, {}, true);
      if (pipe == 1) KeepTail(tail_, framed.lines);
      Write(framed.text);
    }
    Write(DropNote(day_, stamp));
    tail = TailText(tail_);
  }
  if (!warning.empty()) events_.logWarning(category::kRun, event::kText, warning.c_str());
  return tail;
}

std::string OutputCapture::FilePath() const {
  LockGuard guard(*lock_);
  if (settings_.directory.empty()) return {};
  return settings_.directory + "\\" +
         OutputFileName(settings_.component, platform_.clock.LocalNow());
}

}  // namespace keldran
