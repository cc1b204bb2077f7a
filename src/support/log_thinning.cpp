#include "support/log_thinning.h"

#include <algorithm>
#include <vector>

#include "support/log.h"

namespace orrin {

LogThinner::LogThinner(uint64_t every, size_t maxSources, uint64_t inFull)
    : every_(every == 0 ? 1 : every), maxSources_(maxSources == 0 ? 1 : maxSources),
      inFull_(inFull == 0 ? 1 : inFull) {}

uint64_t LogThinner::Note(std::string_view source) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t* count = nullptr;
  auto found = counts_.find(std::string(source));
  if (found != counts_.end()) {
    count = &found->second;
  } else if (counts_.size() < maxSources_) {
    count = &counts_.emplace(std::string(source), 0).first->second;
  } else {
    count = &overflow_;
  }
  const uint64_t n = ++*count;
  return (n <= inFull_ || n % every_ == 0) ? n : 0;
}

void LogThinner::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.clear();
  overflow_ = 0;
}

void LogThinner::Forget(std::string_view source) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.erase(std::string(source));
}

std::string ThinnedLine(const std::string& line, uint64_t count) {
  if (count <= 1) return line;
  return line + " (" + std::to_string(count) + " times)";
}

uint64_t LogErrorThinned(LogThinner& kind, const std::string& line, std::string_view source) {
  const uint64_t count = kind.Note(source);
  if (count) LogError(ThinnedLine(line, count));
  return count;
}

uint64_t LogInfoThinned(LogThinner& kind, const std::string& line, std::string_view source) {
  const uint64_t count = kind.Note(source);
  if (count) LogInfo(ThinnedLine(line, count));
  return count;
}

void LogMessageProgress(LogThinner& kind, const std::string& line) {
  switch (CurrentLogLevel()) {
    case LogLevel::Quiet:
      return;
    case LogLevel::Normal:
      LogInfoThinned(kind, line);
      return;
    case LogLevel::Verbose:
      LogInfo(line);
      return;
  }
}

}  // namespace orrin
