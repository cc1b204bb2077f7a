#include "test_support/log_capture.h"

#include "support/log.h"

namespace orrin::test {

LogCapture::LogCapture() {
  SetLogSink([this](bool isError, const std::string& line) {
    // "[HH:MM:SS] " is 11 bytes, "ERROR: " 7 more; the line feed ends it.
    size_t start = 11 + (isError ? 7 : 0);
    std::string text = line.size() > start ? line.substr(start, line.size() - start - 1) : "";
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back({isError, std::move(text)});
    }
    changed_.notify_all();
  });
}

LogCapture::~LogCapture() { SetLogSink({}); }

std::vector<LogCapture::Line> LogCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

int LogCapture::Count(const std::string& part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const Line& line : lines_) n += line.text.find(part) != std::string::npos ? 1 : 0;
  return n;
}

int LogCapture::IndexOf(const std::string& part) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].text.find(part) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

bool LogCapture::WaitFor(const std::string& part, int count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    int n = 0;
    for (const Line& line : lines_) n += line.text.find(part) != std::string::npos ? 1 : 0;
    return n >= count;
  });
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

}  // namespace orrin::test
