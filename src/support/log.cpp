#include "support/log.h"

#include <atomic>
#include <ctime>
#include <mutex>

#include "support/local_time.h"
#include "support/log_writer.h"

namespace orrin {
namespace {

// The log is the process's one shared service: every thread writes through the same queue
// and writer thread (so a log nobody reads never blocks a network thread), at one level set
// from the command line before any thread starts.
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
  LogWriter writer{STANDARD_OUTPUT, STANDARD_ERROR};
  ~StreamWriter() { writerGone = true; }
};

StreamWriter& Streams() {
  static StreamWriter streams;
  return streams;
}

// Where a finished line goes: the test sink, then the standard stream's queue (whose
// writer also hands it to the platform's debugger channel, where there is one).
void DeliverLine(bool isError, std::string line) {
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) Sink()(isError, line);
  }
  if (writerGone) {
    WriteStandardStreamIfReady(isError, line);
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
  const std::tm local = LocalTime(now);
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
