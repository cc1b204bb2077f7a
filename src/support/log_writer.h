#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace orrin {

// Finished log lines go into a bounded queue per stream, and one writer thread drains
// them into the two descriptors. Whoever logs never waits for the reader of the log: a
// stopped terminal, a stuck journal or a pipe nobody reads cannot hold up a network
// thread or the shut-down. When a queue is full the line is dropped and counted; the next
// line that is taken is preceded by an error line saying how many were lost. The writer
// writes a descriptor only when it is writable and at most one pipe's atomic size at a
// time, in whole lines, so the two streams never block each other and lines never mix,
// even when both descriptors are the same pipe.
class LogWriter {
 public:
  struct Limits {
    size_t maxQueuedBytes = 1024 * 1024;  // per stream
    size_t maxQueuedLines = 8192;         // per stream
  };

  LogWriter(int outFd, int errFd, Limits limits);
  LogWriter(int outFd, int errFd) : LogWriter(outFd, errFd, Limits{}) {}
  // Drains for at most EXIT_DEADLINE (less when the output stops moving), then gives up
  // what is left: a process must end on time even when nobody reads its log.
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  static constexpr std::chrono::milliseconds EXIT_DEADLINE{1000};
  static constexpr std::chrono::milliseconds EXIT_STALL{250};
  // The most one write takes: a pipe's atomic write (PIPE_BUF on Linux).
  static constexpr size_t CHUNK_BYTES = 4096;

  // Queues one finished line (line feed included) for stderr (`isError`) or stdout.
  void Write(bool isError, std::string line);

  // Waits until every queued line has been written; gives up when `deadline` has passed or
  // nothing could be written for `stall`. True when the queues are empty.
  bool Flush(std::chrono::milliseconds deadline, std::chrono::milliseconds stall);

  // Lines dropped so far because their queue was full (or their stream was gone).
  uint64_t Dropped() const;

 private:
  struct Stream {
    int fd;
    std::deque<std::string> lines;
    std::deque<uint64_t> order;  // when each line was taken, across both streams
    size_t bytes = 0;
    size_t written = 0;  // bytes of the front line already written
  };

  void Run();
  // Copies whole lines from the front of `stream` up to one atomic pipe write and up to
  // the line taken as number `before`; a line longer than that write is taken in pieces.
  static std::string NextChunk(const Stream& stream, uint64_t before);
  // Takes `count` written bytes (or, on failure, the front lines) off the queue.
  void Consume(Stream& stream, long count);
  void Wake();
  bool Empty() const { return out_.lines.empty() && err_.lines.empty(); }

  const Limits limits_;
  mutable std::mutex mutex_;
  std::condition_variable progress_;
  Stream out_;
  Stream err_;
  uint64_t taken_ = 0;
  uint64_t dropped_ = 0;
  uint64_t unreported_ = 0;  // dropped since the last notice
  std::chrono::steady_clock::time_point lastProgress_;
  bool quit_ = false;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  void* writerThread_ = nullptr;  // where writes block: a handle to cancel a stuck one at exit
  std::thread thread_;
};

// The standard streams' descriptors as LogWriter takes them.
inline constexpr int STANDARD_OUTPUT = 1;
inline constexpr int STANDARD_ERROR = 2;

// One attempt to write `line` to standard output or error at once, only when the stream
// takes it without waiting (for lines logged after the writer has gone). Where the platform
// has a debugger channel (Windows), the writer and this hand every line to it as well.
void WriteStandardStreamIfReady(bool isError, const std::string& line);

}  // namespace orrin
