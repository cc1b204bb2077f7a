#include "support/log_writer.h"

#include <pthread.h>
#include <signal.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "support/log.h"

namespace orrin {
namespace {

// A write of at most PIPE_BUF bytes to a pipe that polls writable neither blocks nor
// interleaves with another writer's; sockets (the journal's stream) and terminals take
// such a write at once too when they poll writable.
constexpr size_t CHUNK_BYTES = PIPE_BUF;

}  // namespace

LogWriter::LogWriter(int outFd, int errFd, Limits limits)
    : limits_(limits), lastProgress_(std::chrono::steady_clock::now()) {
  out_.fd = outFd;
  err_.fd = errFd;
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
  }
  // The writer takes no signals: SIGTERM and SIGINT belong to whoever waits for them, and a
  // thread started with them unblocked would let the default action end the process.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  thread_ = std::thread(&LogWriter::Run, this);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

LogWriter::~LogWriter() {
  Flush(EXIT_DEADLINE, EXIT_STALL);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  Wake();
  thread_.join();
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void LogWriter::Write(bool isError, std::string line) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Stream& stream = isError ? err_ : out_;
    if (quit_ || stream.lines.size() >= limits_.maxQueuedLines ||
        stream.bytes + line.size() > limits_.maxQueuedBytes) {
      ++dropped_;
      ++unreported_;
      return;
    }
    // The writer polls only the streams that have lines: a stream that had none needs it
    // woken, even while it waits for the other stream to drain.
    wake = stream.lines.empty() || (unreported_ > 0 && err_.lines.empty());
    if (unreported_ > 0) {
      // Goes in even past the bound: it is the one line that says what the bound cost.
      std::string notice =
          StampedLogLine(true, "Log output blocked: " + std::to_string(unreported_) + " lines dropped");
      err_.bytes += notice.size();
      err_.lines.push_back(std::move(notice));
      err_.order.push_back(taken_++);
      unreported_ = 0;
    }
    stream.bytes += line.size();
    stream.lines.push_back(std::move(line));
    stream.order.push_back(taken_++);
  }
  if (wake) Wake();
}

bool LogWriter::Flush(std::chrono::milliseconds deadline, std::chrono::milliseconds stall) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (Empty()) return true;
    const Clock::time_point now = Clock::now();
    const Clock::time_point moved = std::max(start, lastProgress_);
    if (now - start >= deadline || now - moved >= stall) return false;
    progress_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

uint64_t LogWriter::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

void LogWriter::Wake() {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  // A full wake pipe already holds a wake-up: nothing is lost when this one fails.
  [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
}

std::string LogWriter::NextChunk(const Stream& stream, uint64_t before) {
  const std::string& front = stream.lines.front();
  if (stream.written > 0 || front.size() > CHUNK_BYTES) {
    const size_t rest = front.size() - stream.written;
    return front.substr(stream.written, std::min(rest, CHUNK_BYTES));
  }
  std::string chunk;
  for (size_t i = 0; i < stream.lines.size(); ++i) {
    const std::string& line = stream.lines[i];
    if (!chunk.empty() && (chunk.size() + line.size() > CHUNK_BYTES || stream.order[i] > before)) break;
    chunk += line;
  }
  return chunk;
}

void LogWriter::Consume(Stream& stream, long count) {
  if (count < 0) {
    // The stream cannot take the line (closed, no reader, an I/O error): it is lost, as
    // with a console that is not there.
    stream.bytes -= stream.lines.front().size();
    stream.lines.pop_front();
    stream.order.pop_front();
    stream.written = 0;
    ++dropped_;
    return;
  }
  size_t left = static_cast<size_t>(count);
  while (left > 0 && !stream.lines.empty()) {
    const size_t rest = stream.lines.front().size() - stream.written;
    if (left < rest) {
      stream.written += left;
      break;
    }
    left -= rest;
    stream.bytes -= stream.lines.front().size();
    stream.lines.pop_front();
    stream.order.pop_front();
    stream.written = 0;
  }
  lastProgress_ = std::chrono::steady_clock::now();
}

void LogWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::string chunks[2];
  for (;;) {
    if (quit_) return;
    Stream* streams[2] = {&out_, &err_};
    // A line that takes more than one write is finished before the other stream gets a
    // turn: both may be the same pipe, and nothing may land inside a line.
    auto split = [](const Stream& s) { return !s.lines.empty() && s.written > 0; };
    Stream* only = split(out_) ? &out_ : split(err_) ? &err_ : nullptr;
    pollfd fds[3];
    Stream* polled[2] = {nullptr, nullptr};
    nfds_t count = 0;
    for (Stream* stream : streams) {
      if (stream->lines.empty() || (only != nullptr && stream != only)) continue;
      // Lines of one stream only up to the other stream's oldest line.
      const Stream& other = stream == &out_ ? err_ : out_;
      chunks[count] = NextChunk(*stream, other.order.empty() ? UINT64_MAX : other.order.front());
      polled[count] = stream;
      fds[count] = pollfd{stream->fd, POLLOUT, 0};
      ++count;
    }
    const nfds_t streamsPolled = count;
    const bool errOlder = !err_.order.empty() && (out_.order.empty() || err_.order.front() < out_.order.front());
    fds[count++] = pollfd{wakeRead_, POLLIN, 0};
    lock.unlock();

    // Without a wake pipe, look again now and then.
    const int timeout = wakeRead_ < 0 ? 20 : -1;
    const int ready = ::poll(fds, count, timeout);
    long results[2] = {0, 0};
    bool wrote[2] = {false, false};
    if (ready > 0) {
      // One write per poll: when both descriptors are the same pipe, one "writable" covers
      // one write only. When both are ready the older line goes first, so a log that takes
      // both streams (2>&1) keeps the order the lines were made in.
      const bool errFirst = streamsPolled == 2 && errOlder;
      for (nfds_t k = 0; k < streamsPolled; ++k) {
        const nfds_t i = errFirst ? 1 - k : k;
        if (fds[i].revents & POLLNVAL) {
          results[i] = -1;
          wrote[i] = true;
        } else if (fds[i].revents & (POLLOUT | POLLERR | POLLHUP)) {
          long n;
          do {
            n = ::write(fds[i].fd, chunks[i].data(), chunks[i].size());
          } while (n < 0 && errno == EINTR);
          // Someone else made the descriptor non-blocking and it filled meanwhile: try again
          // a little later rather than spin.
          if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
          }
          results[i] = n;
          wrote[i] = true;
          break;
        }
      }
      if (fds[streamsPolled].revents & POLLIN) {
        char drain[64];
        while (::read(wakeRead_, drain, sizeof drain) > 0) {
        }
      }
    }

    lock.lock();
    for (nfds_t i = 0; i < streamsPolled; ++i) {
      if (wrote[i]) Consume(*polled[i], results[i]);
    }
    progress_.notify_all();
  }
}

}  // namespace orrin
