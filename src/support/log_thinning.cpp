#include "support/log_thinning.h"

namespace orrin {

LogThinner::LogThinner(uint64_t every, size_t maxSources)
    : every_(every == 0 ? 1 : every), maxSources_(maxSources == 0 ? 1 : maxSources) {}

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
  return (n == 1 || n % every_ == 0) ? n : 0;
}

void LogThinner::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.clear();
  overflow_ = 0;
}

std::string ThinnedLine(const std::string& line, uint64_t count) {
  if (count <= 1) return line;
  return line + " (" + std::to_string(count) + " times)";
}

}  // namespace orrin
