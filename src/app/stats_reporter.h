#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace orrin {

class AudioPlayback;
class CastStats;

// `--stats`: switches the picture path's statistics on and writes one log line a second
// (pictures received, shown and dropped, decode and present delay, sound queued); when it
// stops, one summary line over the whole run with p50 and p99 of every timing. Owns its
// thread and joins it on destruction.
//
// Without `writeLines` it writes nothing and only closes an interval each second while
// something else (the overlay) has switched the statistics on.
class StatsReporter {
 public:
  // `stats` and `audio` (may be null) outlive the reporter.
  StatsReporter(CastStats& stats, AudioPlayback* audio, bool writeLines = true);
  ~StatsReporter();
  StatsReporter(const StatsReporter&) = delete;
  StatsReporter& operator=(const StatsReporter&) = delete;

 private:
  void Run();

  CastStats& stats_;
  AudioPlayback* audio_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  int64_t startNs_ = 0;
  const bool writeLines_;
  std::thread thread_;
};

}  // namespace orrin
