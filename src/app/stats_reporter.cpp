#include "app/stats_reporter.h"

#include <chrono>

#include "media/audio_playback.h"
#include "media/cast_stats.h"
#include "support/log.h"

namespace orrin {

StatsReporter::StatsReporter(CastStats& stats, AudioPlayback* audio, bool writeLines)
    : stats_(stats), audio_(audio), startNs_(NowNs()), writeLines_(writeLines) {
  if (writeLines_) stats_.Enable(true);
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
  LogInfo(FormatStatsSummary(stats_.WholeRun(), static_cast<double>(NowNs() - startNs_) / 1e9));
  stats_.Enable(false);
}

void StatsReporter::Run() {
  auto next = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    next += std::chrono::seconds(1);
    if (wake_.wait_until(lock, next, [this] { return stop_; })) return;
    if (!stats_.Enabled()) continue;
    const StatsSnapshot interval = stats_.TakeInterval();
    if (!writeLines_) continue;
    const size_t queued = audio_ != nullptr ? audio_->QueuedBytes() : 0;
    const double audioMs = static_cast<double>(queued) * 1000.0 / AUDIO_BYTES_PER_SECOND;
    LogInfo(FormatStatsLine(interval, audioMs));
  }
}

}  // namespace orrin
