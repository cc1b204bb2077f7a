// The writer thread over descriptors: poll for writable, one write at a time, a wake pipe.
#include <pthread.h>
#include <signal.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "support/log.h"
#include "support/log_writer.h"

namespace orrin {

// A write of at most PIPE_BUF bytes to a pipe that polls writable neither blocks nor
// interleaves with another writer's; sockets (the journal's stream) and terminals take
// such a write at once too when they poll writable.
static_assert(LogWriter::CHUNK_BYTES <= PIPE_BUF);

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

void LogWriter::Wake() {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  // A full wake pipe already holds a wake-up: nothing is lost when this one fails.
  [[maybe_unused]] ssize_t n = ::write(wakeWrite_, &byte, 1);
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

void WriteStandardStreamIfReady(bool isError, const std::string& line) {
  pollfd fd{isError ? STDERR_FILENO : STDOUT_FILENO, POLLOUT, 0};
  if (::poll(&fd, 1, 0) == 1 && (fd.revents & POLLOUT)) {
    [[maybe_unused]] ssize_t n = ::write(fd.fd, line.data(), line.size());
  }
}

}  // namespace orrin
