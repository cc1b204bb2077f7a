#include "app/stats_reporter.h"

#include <chrono>

#include "media/audio_playback.h"
#include "media/cast_stats.h"
#include "support/log.h"

namespace orrin {

StatsReporter::StatsReporter(bool writeLines) : startNs_(NowNs()), writeLines_(writeLines) {
  if (writeLines_) EnableCastStats(true);
  thread_ = std::thread([this] { Run(); });
}

StatsReporter::~StatsReporter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (!writeLines_) return;
  LogInfo(FormatStatsSummary(WholeRun(), static_cast<double>(NowNs() - startNs_) / 1e9));
  EnableCastStats(false);
}

void StatsReporter::Run() {
  auto next = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    next += std::chrono::seconds(1);
    if (wake_.wait_until(lock, next, [this] { return stop_; })) return;
    if (!CastStatsEnabled()) continue;
    const StatsSnapshot interval = TakeInterval();
    if (!writeLines_) continue;
    const double audioMs = static_cast<double>(QueuedAudioBytes()) * 1000.0 / AUDIO_BYTES_PER_SECOND;
    LogInfo(FormatStatsLine(interval, audioMs));
  }
}

}  // namespace orrin
