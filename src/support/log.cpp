#include "support/log.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

namespace orrin {
namespace {

std::mutex& LogMutex() {
  static std::mutex mutex;
  return mutex;
}

LogSink& Sink() {
  static LogSink sink;
  return sink;
}

// The whole line leaves in as few write() calls as the kernel allows, under one lock, so
// lines from different threads never mix and nothing waits in a user-space buffer: whoever
// reads our output (a terminal, the journal, a test) sees each line as soon as it is made.
void WriteAll(int fd, const std::string& line) {
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // no stream to write to: the line is lost, as with a closed console
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
}

void Emit(bool isError, const std::string& message) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::string line = FormatLogLine(local.tm_hour, local.tm_min, local.tm_sec, isError, message);
  std::lock_guard<std::mutex> lock(LogMutex());
  WriteAll(isError ? STDERR_FILENO : STDOUT_FILENO, line);
  if (Sink()) Sink()(isError, line);
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

void LogInfo(const std::string& message) { Emit(false, message); }

void LogError(const std::string& message) { Emit(true, message); }

void SetLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(LogMutex());
  Sink() = std::move(sink);
}

}  // namespace orrin
