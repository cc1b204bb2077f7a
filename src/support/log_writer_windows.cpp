// The writer thread over the standard handles, and the debugger channel beside them. A
// program built for the window subsystem may have no standard handles: its lines then go to
// the debugger channel only. The channel is fed from the writer thread too: a debugger
// output listener that stalls (it may hold each line for seconds) must not hold up whoever
// logs.
#include "support/windows_api.h"

#include <io.h>

#include "support/log.h"
#include "support/log_writer.h"

namespace orrin {
namespace {

HANDLE HandleOf(int fd) {
  if (fd == STANDARD_OUTPUT) return GetStdHandle(STD_OUTPUT_HANDLE);
  if (fd == STANDARD_ERROR) return GetStdHandle(STD_ERROR_HANDLE);
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool Usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// One WriteFile; the bytes written, or -1 when the stream cannot take them (none there,
// closed, broken pipe).
long WriteOnce(HANDLE handle, const std::string& chunk) {
  if (!Usable(handle)) return -1;
  DWORD written = 0;
  if (!WriteFile(handle, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr)) return -1;
  return static_cast<long>(written);
}

}  // namespace

LogWriter::LogWriter(int outFd, int errFd, Limits limits)
    : limits_(limits), lastProgress_(std::chrono::steady_clock::now()) {
  out_.fd = outFd;
  err_.fd = errFd;
  thread_ = std::thread(&LogWriter::Run, this);
}

LogWriter::~LogWriter() {
  Flush(EXIT_DEADLINE, EXIT_STALL);
  HANDLE writer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    writer = static_cast<HANDLE>(writerThread_);
  }
  Wake();
  // A write to a pipe nobody reads (or a console held in selection) does not return by
  // itself: cancel it, so the process still ends on time.
  if (writer != nullptr) {
    while (WaitForSingleObject(writer, 10) == WAIT_TIMEOUT) CancelSynchronousIo(writer);
    CloseHandle(writer);
  }
  thread_.join();
}

void LogWriter::Wake() { progress_.notify_all(); }

void LogWriter::Run() {
  HANDLE self = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  std::unique_lock<std::mutex> lock(mutex_);
  writerThread_ = self;
  for (;;) {
    progress_.wait(lock, [this] { return quit_ || !Empty(); });
    if (quit_) return;
    // The older front line goes first, and a line written in pieces is finished before the
    // other stream's turn: both handles may be the same pipe.
    Stream* stream;
    if (!out_.lines.empty() && out_.written > 0) {
      stream = &out_;
    } else if (!err_.lines.empty() && err_.written > 0) {
      stream = &err_;
    } else if (out_.lines.empty()) {
      stream = &err_;
    } else if (err_.lines.empty()) {
      stream = &out_;
    } else {
      stream = err_.order.front() < out_.order.front() ? &err_ : &out_;
    }
    const Stream& other = stream == &out_ ? err_ : out_;
    const std::string chunk = NextChunk(*stream, other.order.empty() ? UINT64_MAX : other.order.front());
    const HANDLE handle = HandleOf(stream->fd);
    // The channel takes whole lines, once: a long line written in pieces goes in at its first.
    const bool first = stream->written == 0;
    const std::string& front = stream->lines.front();
    const std::string debugText = !first ? std::string() : front.size() > chunk.size() ? front : chunk;
    lock.unlock();
    if (first) OutputDebugStringA(debugText.c_str());
    const long written = WriteOnce(handle, chunk);
    lock.lock();
    Consume(*stream, written);
    progress_.notify_all();
  }
}

void WriteStandardStreamIfReady(bool isError, const std::string& line) {
  OutputDebugStringA(line.c_str());
  // Only a console takes a write at once for sure; a pipe may wait for its reader.
  const HANDLE handle = GetStdHandle(isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (!Usable(handle) || GetFileType(handle) != FILE_TYPE_CHAR) return;
  WriteOnce(handle, line);
}

}  // namespace orrin
