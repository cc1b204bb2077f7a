#include "media/cast_stats.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

#include "support/receiver_metrics.h"

namespace orrin {
namespace {

// A run of an hour at 50 pictures a second stays far below this; past it the summary
// keeps the first samples rather than growing without bound.
constexpr size_t MAX_RUN_SAMPLES = 500'000;

void Push(std::vector<double>& interval, std::vector<double>& run, double value) {
  interval.push_back(value);
  if (run.size() < MAX_RUN_SAMPLES) run.push_back(value);
}

TimingSummary Summarise(std::vector<double>& samples) {
  TimingSummary summary;
  summary.count = samples.size();
  summary.p50 = Percentile(samples, 50);
  summary.p99 = Percentile(samples, 99);
  return summary;
}

template <typename S>
void Fill(StatsSnapshot& snapshot, S& samples) {
  snapshot.decode = Summarise(samples.decode);
  snapshot.upload = Summarise(samples.upload);
  snapshot.draw = Summarise(samples.draw);
  snapshot.delay = Summarise(samples.delay);
  snapshot.audio = Summarise(samples.audio);
}

std::string Ms(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void CastStats::Samples::Clear() {
  decode.clear();
  upload.clear();
  draw.clear();
  delay.clear();
  audio.clear();
}

template <typename F>
void CastStats::Update(F&& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(intervalCounts_);
  change(runCounts_);
}

void CastStats::PictureReceived(size_t bytes) {
  if (ReceiverMetrics* metrics = metrics_.load(std::memory_order_acquire)) Count(&metrics->picturesReceived);
  if (!Enabled()) return;
  Update([bytes](StatsSnapshot& s) {
    ++s.received;
    s.receivedBytes += bytes;
  });
}

void CastStats::PictureDropped() {
  if (ReceiverMetrics* metrics = metrics_.load(std::memory_order_acquire)) Count(&metrics->picturesDropped);
  if (!Enabled()) return;
  Update([](StatsSnapshot& s) { ++s.dropped; });
}

void CastStats::PictureDecoded(double decodeMs, int scaleDenominator) {
  if (ReceiverMetrics* metrics = metrics_.load(std::memory_order_acquire)) {
    metrics->decodeSeconds.Observe(decodeMs / 1000);
  }
  if (!Enabled()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (StatsSnapshot* s : {&intervalCounts_, &runCounts_}) {
    ++s->decoded;
    s->lastScaleDenominator = scaleDenominator;
  }
  Push(intervalSamples_.decode, runSamples_.decode, decodeMs);
}

void CastStats::PictureShown(double uploadMs, double drawMs, double delayMs) {
  if (ReceiverMetrics* metrics = metrics_.load(std::memory_order_acquire)) {
    Count(&metrics->picturesShown);
    metrics->presentSeconds.Observe(delayMs / 1000);
  }
  if (!Enabled()) return;
  const int64_t now = NowNs();
  std::lock_guard<std::mutex> lock(mutex_);
  const double gapMs = lastShownNs_ != 0 ? static_cast<double>(now - lastShownNs_) / 1e6 : 0;
  lastShownNs_ = now;
  for (StatsSnapshot* s : {&intervalCounts_, &runCounts_}) {
    ++s->shown;
    s->longestGapMs = std::max(s->longestGapMs, gapMs);
    if (gapMs > STATS_LONG_GAP_MS) ++s->longGaps;
  }
  Push(intervalSamples_.upload, runSamples_.upload, uploadMs);
  Push(intervalSamples_.draw, runSamples_.draw, drawMs);
  Push(intervalSamples_.delay, runSamples_.delay, delayMs);
}

void CastStats::CastStarted() {
  if (!Enabled()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  lastShownNs_ = 0;
}

void CastStats::AudioQueued(double queuedMs) {
  if (!Enabled()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Push(intervalSamples_.audio, runSamples_.audio, queuedMs);
}

StatsSnapshot CastStats::TakeInterval() {
  std::lock_guard<std::mutex> lock(mutex_);
  StatsSnapshot snapshot = intervalCounts_;
  Fill(snapshot, intervalSamples_);
  const int scale = intervalCounts_.lastScaleDenominator;
  intervalCounts_ = StatsSnapshot{};
  intervalCounts_.lastScaleDenominator = scale;
  intervalSamples_.Clear();
  lastInterval_ = snapshot;
  return snapshot;
}

StatsSnapshot CastStats::LastInterval() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastInterval_;
}

StatsSnapshot CastStats::WholeRun() const {
  std::lock_guard<std::mutex> lock(mutex_);
  StatsSnapshot snapshot = runCounts_;
  Samples copy = runSamples_;  // Percentile sorts; the run's samples keep their order
  Fill(snapshot, copy);
  return snapshot;
}

double Percentile(std::vector<double>& samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  const size_t index = static_cast<size_t>(std::clamp(rank, 1.0, static_cast<double>(samples.size()))) - 1;
  return samples[index];
}

std::string FormatStatsLine(const StatsSnapshot& s, double audioQueuedMs) {
  return "stats: received " + std::to_string(s.received) + ", shown " + std::to_string(s.shown) + ", dropped " +
         std::to_string(s.dropped) + ", decode p50 " + Ms(s.decode.p50) + " ms (scale 1/" +
         std::to_string(s.lastScaleDenominator) + "), present delay p50 " + Ms(s.delay.p50) +
         " ms, audio queued " + std::to_string(static_cast<long>(std::lround(audioQueuedMs))) + " ms";
}

std::string FormatStatsSummary(const StatsSnapshot& s, double seconds) {
  auto timing = [](const char* name, const TimingSummary& t) {
    return std::string(", ") + name + " p50 " + Ms(t.p50) + " p99 " + Ms(t.p99) + " ms";
  };
  char head[160];
  std::snprintf(head, sizeof head, "stats summary: %.1f s, received %llu (%llu bytes), shown %llu, dropped %llu",
                seconds, static_cast<unsigned long long>(s.received), static_cast<unsigned long long>(s.receivedBytes),
                static_cast<unsigned long long>(s.shown), static_cast<unsigned long long>(s.dropped));
  std::string text = head + timing("decode", s.decode) + timing("upload", s.upload) + timing("draw", s.draw) +
                     timing("delay", s.delay);
  if (s.audio.count > 0) text += timing("audio", s.audio);
  char gaps[96];
  std::snprintf(gaps, sizeof gaps, ", longest gap %.1f ms, gaps over %.0f ms %llu", s.longestGapMs,
                STATS_LONG_GAP_MS, static_cast<unsigned long long>(s.longGaps));
  return text + gaps;
}

}  // namespace orrin
