#include "support/log.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <mutex>

#include "support/log_writer.h"

namespace orrin {
namespace {

std::atomic<LogLevel> level{LogLevel::Normal};

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

LogSink& Sink() {
  static LogSink sink;
  return sink;
}

// Set once the writer is gone at exit; constant-initialised and never destroyed, so it
// can be read from any destructor that still logs.
std::atomic<bool> writerGone{false};

struct StreamWriter {
  LogWriter writer{STDOUT_FILENO, STDERR_FILENO};
  ~StreamWriter() { writerGone = true; }
};

StreamWriter& Streams() {
  static StreamWriter streams;
  return streams;
}

// After the writer has gone (a destructor logging at exit): one attempt, only when the
// stream takes it without waiting.
void WriteIfReady(bool isError, const std::string& line) {
  pollfd fd{isError ? STDERR_FILENO : STDOUT_FILENO, POLLOUT, 0};
  if (::poll(&fd, 1, 0) == 1 && (fd.revents & POLLOUT)) {
    [[maybe_unused]] ssize_t n = ::write(fd.fd, line.data(), line.size());
  }
}

// Where a finished line goes: the test sink, then the standard stream's queue. Another
// destination (a platform's debugger channel) is added here.
void DeliverLine(bool isError, std::string line) {
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) Sink()(isError, line);
  }
  if (writerGone) {
    WriteIfReady(isError, line);
    return;
  }
  Streams().writer.Write(isError, std::move(line));
}

void AppendTwoDigits(std::string& out, int value) {
  out.push_back(static_cast<char>('0' + (value / 10) % 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

}  // namespace

std::string FormatLogLine(int hour, int minute, int second, bool isError, std::string_view message) {
  std::string line;
  line.reserve(message.size() + 20);
  line.push_back('[');
  AppendTwoDigits(line, hour);
  line.push_back(':');
  AppendTwoDigits(line, minute);
  line.push_back(':');
  AppendTwoDigits(line, second);
  line += "] ";
  if (isError) line += "ERROR: ";
  line += message;
  line.push_back('\n');
  return line;
}

std::string StampedLogLine(bool isError, std::string_view message) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FormatLogLine(local.tm_hour, local.tm_min, local.tm_sec, isError, message);
}

void LogInfo(const std::string& message) { DeliverLine(false, StampedLogLine(false, message)); }

void LogError(const std::string& message) { DeliverLine(true, StampedLogLine(true, message)); }

void SetLogLevel(LogLevel newLevel) { level = newLevel; }

LogLevel CurrentLogLevel() { return level; }

void LogProgress(const std::string& message) {
  if (level != LogLevel::Quiet) LogInfo(message);
}

bool FlushLog(int deadlineMs) {
  if (writerGone) return false;
  return Streams().writer.Flush(std::chrono::milliseconds(deadlineMs), LogWriter::EXIT_STALL);
}

void SetLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}

}  // namespace orrin
