#include "support/log_writer.h"

#include <algorithm>

#include "support/log.h"

namespace orrin {

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

}  // namespace orrin
