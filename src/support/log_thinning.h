#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace orrin {

// Lines that anyone on the network can cause at will (junk handshakes, tiny frames, probe
// floods) are thinned: per kind, and per source where a source is given, the first
// `inFull` occurrences (one unless said) and every `every`-th are written, the rest only
// counted. The first line keeps the text as it stands; later written ones carry the count,
// so a flood shows its size in a few lines.
// Sources are remembered up to a bound; past it, new sources share one counter, so a flood
// from many (spoofed) addresses is bounded too. Safe from any thread.
class LogThinner {
 public:
  explicit LogThinner(uint64_t every, size_t maxSources = 256, uint64_t inFull = 1);
  LogThinner(const LogThinner&) = delete;
  LogThinner& operator=(const LogThinner&) = delete;

  // Counts one occurrence from `source` (empty: the kind as a whole). Returns the count so
  // far when this occurrence is to be written, 0 when it is only counted.
  uint64_t Note(std::string_view source = {});

  // Forgets every count (tests, and a kind that starts afresh per connection).
  void Reset();

  // Forgets the count of one source: it is written in full again.
  void Forget(std::string_view source);

 private:
  const uint64_t every_;
  const size_t maxSources_;
  const uint64_t inFull_;
  std::mutex mutex_;
  std::unordered_map<std::string, uint64_t> counts_;
  uint64_t overflow_ = 0;
};

// `line` as it is written for occurrence `count`: unchanged for the first, with
// " (N times)" after it for later ones.
std::string ThinnedLine(const std::string& line, uint64_t count);

// A line a sender can repeat at will, written through LogError or LogInfo when `kind` lets
// this occurrence from `source` through, at every level. Returns its count when it was
// written, 0 when it was only counted.
uint64_t LogErrorThinned(LogThinner& kind, const std::string& line, std::string_view source = {});
uint64_t LogInfoThinned(LogThinner& kind, const std::string& line, std::string_view source = {});

// A progress line about one message of many (a picture, a sound frame): none when Quiet,
// the occurrences `kind` lets through when Normal, every one when Verbose.
void LogMessageProgress(LogThinner& kind, const std::string& line);

}  // namespace orrin
