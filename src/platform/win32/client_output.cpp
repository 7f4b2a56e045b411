// What the host keeps of a client's life: its standard output and error through pipes read on a
// thread of their own, and a minidump written before a forced kill.
#include "platform/boundary.h"
#include "platform/win32/backend.h"
// (dbghelp.h builds on windows.h, which the backend's header brings.)
#include <dbghelp.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

// The pipe's buffer and the reader's, per pipe: large enough that a client that prints as fast as
// it can waits on the host only for the copy, not for a read per line.
constexpr DWORD kPipeBuffer = 64 * 1024;
// The reader thread does little more than wait and copy: a small stack will do.
constexpr SIZE_T kReaderStack = 64 * 1024;

// Reads every pipe with overlapped I/O, so that a stop can end a read that would otherwise wait
// for as long as a grandchild of the client keeps a write end open.
class PipeReader final : public IPipeReader {
 public:
  PipeReader(std::vector<FileHandle> readEnds, PipeSink sink)
      : sink_(std::move(sink)), stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    for (FileHandle end : readEnds) {
      auto pipe = std::make_unique<Pipe>();
      pipe->handle.reset(FromSeam<HANDLE>(end));
      pipe->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
      pipe->buffer.resize(kPipeBuffer);
      pipes_.push_back(std::move(pipe));
    }
  }
  ~PipeReader() override {
    if (thread_) {
      ::SetEvent(stop_.get());
      ::WaitForSingleObject(thread_.get(), INFINITE);
    }
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;

  [[nodiscard]] bool Start() {
    if (!stop_) return false;
    for (const auto& pipe : pipes_) {
      if (!pipe->done) return false;
    }
    thread_.reset(::CreateThread(nullptr, kReaderStack, &PipeReader::Main, this,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    return static_cast<bool>(thread_);
  }

 private:
  struct Pipe {
    UniqueKernelHandle handle;
    UniqueKernelHandle done;
    OVERLAPPED overlapped{};
    std::vector<char> buffer;
    bool pending = false;
    bool ended = false;
  };

  static DWORD WINAPI Main(void* self) noexcept {
    static_cast<PipeReader*>(self)->Loop();
    return 0;
  }

  void Deliver(std::size_t index, std::string_view data) noexcept {
    try {
      sink_(index, data);
    } catch (...) {
      // The pipe is read on regardless, so the client never waits on a full pipe.
      ReportBoundaryFailure("the reader of the client's output");
    }
  }

  // Starts reads until one is pending; false once the pipe has ended.
  bool Read(std::size_t index) {
    Pipe& pipe = *pipes_[index];
    for (;;) {
      pipe.overlapped = OVERLAPPED{};
      pipe.overlapped.hEvent = pipe.done.get();
      DWORD got = 0;
      if (::ReadFile(pipe.handle.get(), pipe.buffer.data(), kPipeBuffer, &got, &pipe.overlapped)) {
        // Done at once: the overlapped result has the count too.
        if (::GetOverlappedResult(pipe.handle.get(), &pipe.overlapped, &got, FALSE) && got > 0)
          Deliver(index, std::string_view(pipe.buffer.data(), got));
        continue;
      }
      if (::GetLastError() == ERROR_IO_PENDING) {
        pipe.pending = true;
        return true;
      }
      return End(index);  // ERROR_BROKEN_PIPE: every write end is closed
    }
  }

  bool End(std::size_t index) {
    pipes_[index]->ended = true;
    Deliver(index, {});
    return false;
  }

  void Loop() noexcept {
    for (std::size_t i = 0; i < pipes_.size(); ++i) (void)Read(i);
    for (;;) {
      std::vector<HANDLE> waits{stop_.get()};
      std::vector<std::size_t> which;
      for (std::size_t i = 0; i < pipes_.size(); ++i) {
        if (pipes_[i]->ended) continue;
        waits.push_back(pipes_[i]->done.get());
        which.push_back(i);
      }
      if (which.empty()) return;
      const DWORD woke =
          ::WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, INFINITE);
      if (woke == WAIT_OBJECT_0 || woke >= WAIT_OBJECT_0 + waits.size()) break;
      const std::size_t index = which[woke - WAIT_OBJECT_0 - 1];
      Pipe& pipe = *pipes_[index];
      pipe.pending = false;
      DWORD got = 0;
      if (!::GetOverlappedResult(pipe.handle.get(), &pipe.overlapped, &got, FALSE)) {
        (void)End(index);
        continue;
      }
      if (got > 0) Deliver(index, std::string_view(pipe.buffer.data(), got));
      (void)Read(index);
    }
    // Stopped: the reads under way are cancelled and waited for, since they write into buffers
    // that go with the reader.
    for (const auto& pipe : pipes_) {
      if (!pipe->pending) continue;
      ::CancelIo(pipe->handle.get());
      DWORD got = 0;
      (void)::GetOverlappedResult(pipe->handle.get(), &pipe->overlapped, &got, TRUE);
    }
  }

  PipeSink sink_;
  std::vector<std::unique_ptr<Pipe>> pipes_;
  UniqueKernelHandle stop_;
  UniqueKernelHandle thread_;  // last: it ends before the rest goes
};

// What the dump's thread owns: it may outlive the wait for it.
struct DumpJob {
  UniqueKernelHandle process;
  DWORD processId = 0;
  std::string path;
  Win32Error result = 0;
};

DWORD WINAPI WriteDump(void* parameter) noexcept {
  std::unique_ptr<std::shared_ptr<DumpJob>> owned(
      static_cast<std::shared_ptr<DumpJob>*>(parameter));
  DumpJob& job = **owned;
  UniqueFile file(::CreateFileA(job.path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    job.result = ::GetLastError();
    return 0;
  }
  // MiniDumpNormal: every thread with its stack and context, and the module list; no heap.
  if (!::MiniDumpWriteDump(job.process.get(), job.processId, file.get(), MiniDumpNormal, nullptr,
                           nullptr, nullptr)) {
    job.result = ::GetLastError();
    if (job.result == 0) job.result = ERROR_GEN_FAILURE;
    file.reset();
    ::DeleteFileA(job.path.c_str());
  }
  return 0;
}

}  // namespace

Win32Error CreateOutputPipe(FileHandle* readEnd, FileHandle* writeEnd) {
  // An anonymous pipe cannot be read with overlapped I/O, so it is a named pipe of one instance
  // that only this process makes and connects to at once.
  static std::atomic<unsigned> serial{0};
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\Keldran.Output.%lu.%u",
                static_cast<unsigned long>(::GetCurrentProcessId()), serial++);
  UniqueFile read(::CreateNamedPipeA(
      name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
      kPipeBuffer, 0, nullptr));
  if (!read) return ::GetLastError();
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  UniqueFile write(::CreateFileA(name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &inheritable,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!write) return ::GetLastError();
  *readEnd = ToSeam<FileHandle>(read.release());
  *writeEnd = ToSeam<FileHandle>(write.release());
  return 0;
}

std::unique_ptr<IPipeReader> StartPipeReader(std::vector<FileHandle> readEnds, PipeSink sink) {
  auto reader = std::make_unique<PipeReader>(std::move(readEnds), std::move(sink));
  if (!reader->Start()) return nullptr;
  return reader;
}

Win32Error WriteMiniDump(ProcessHandle process, std::uint32_t processId, const std::string& path,
                         std::uint32_t milliseconds) {
  auto job = std::make_shared<DumpJob>();
  HANDLE copy = nullptr;
  // The thread keeps a handle of its own: the caller may kill the process and close its handle
  // while the dump is still being written.
  if (!::DuplicateHandle(::GetCurrentProcess(), FromSeam<HANDLE>(process), ::GetCurrentProcess(),
                         &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return ::GetLastError();
  }
  job->process.reset(copy);
  job->processId = processId;
  job->path = path;
  auto* parameter = new std::shared_ptr<DumpJob>(job);
  UniqueKernelHandle thread(::CreateThread(nullptr, 0, &WriteDump, parameter, 0, nullptr));
  if (!thread) {
    const Win32Error e = ::GetLastError();
    delete parameter;
    return e;
  }
  if (::WaitForSingleObject(thread.get(), milliseconds) != WAIT_OBJECT_0) return ERROR_TIMEOUT;
  return job->result;
}

}  // namespace keldran::win32
