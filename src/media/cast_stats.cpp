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

std::atomic<bool> enabled{false};
std::atomic<ReceiverMetrics*> metricsSink{nullptr};

ReceiverMetrics* Metrics() { return metricsSink.load(std::memory_order_acquire); }

struct Samples {
  std::vector<double> decode, upload, draw, delay, audio;
  void Clear() {
    decode.clear();
    upload.clear();
    draw.clear();
    delay.clear();
    audio.clear();
  }
};

// Counters are touched by the sender's thread and the main thread; one short lock per
// picture is far below the cost of the picture itself and only taken while enabled.
std::mutex statsMutex;
StatsSnapshot intervalCounts;
StatsSnapshot runCounts;
Samples intervalSamples;
Samples runSamples;
int64_t lastShownNs = 0;  // 0: no picture shown yet in this cast
StatsSnapshot lastInterval;

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

void Fill(StatsSnapshot& snapshot, Samples& samples) {
  snapshot.decode = Summarise(samples.decode);
  snapshot.upload = Summarise(samples.upload);
  snapshot.draw = Summarise(samples.draw);
  snapshot.delay = Summarise(samples.delay);
  snapshot.audio = Summarise(samples.audio);
}

template <typename F>
void Update(F&& change) {
  std::lock_guard<std::mutex> lock(statsMutex);
  change(intervalCounts);
  change(runCounts);
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

void EnableCastStats(bool on) { enabled.store(on, std::memory_order_relaxed); }
bool CastStatsEnabled() { return enabled.load(std::memory_order_relaxed); }

void SetCastMetrics(ReceiverMetrics* metrics) { metricsSink.store(metrics, std::memory_order_release); }
bool CastTimingWanted() { return CastStatsEnabled() || Metrics() != nullptr; }

void StatsPictureReceived(size_t bytes) {
  if (ReceiverMetrics* metrics = Metrics()) Count(&metrics->picturesReceived);
  if (!CastStatsEnabled()) return;
  Update([bytes](StatsSnapshot& s) {
    ++s.received;
    s.receivedBytes += bytes;
  });
}

void StatsPictureDropped() {
  if (ReceiverMetrics* metrics = Metrics()) Count(&metrics->picturesDropped);
  if (!CastStatsEnabled()) return;
  Update([](StatsSnapshot& s) { ++s.dropped; });
}

void StatsPictureDecoded(double decodeMs, int scaleDenominator) {
  if (ReceiverMetrics* metrics = Metrics()) metrics->decodeSeconds.Observe(decodeMs / 1000);
  if (!CastStatsEnabled()) return;
  std::lock_guard<std::mutex> lock(statsMutex);
  for (StatsSnapshot* s : {&intervalCounts, &runCounts}) {
    ++s->decoded;
    s->lastScaleDenominator = scaleDenominator;
  }
  Push(intervalSamples.decode, runSamples.decode, decodeMs);
}

void StatsPictureShown(double uploadMs, double drawMs, double delayMs) {
  if (ReceiverMetrics* metrics = Metrics()) {
    Count(&metrics->picturesShown);
    metrics->presentSeconds.Observe(delayMs / 1000);
  }
  if (!CastStatsEnabled()) return;
  const int64_t now = NowNs();
  std::lock_guard<std::mutex> lock(statsMutex);
  const double gapMs = lastShownNs != 0 ? static_cast<double>(now - lastShownNs) / 1e6 : 0;
  lastShownNs = now;
  for (StatsSnapshot* s : {&intervalCounts, &runCounts}) {
    ++s->shown;
    s->longestGapMs = std::max(s->longestGapMs, gapMs);
    if (gapMs > STATS_LONG_GAP_MS) ++s->longGaps;
  }
  Push(intervalSamples.upload, runSamples.upload, uploadMs);
  Push(intervalSamples.draw, runSamples.draw, drawMs);
  Push(intervalSamples.delay, runSamples.delay, delayMs);
}

void StatsCastStarted() {
  if (!CastStatsEnabled()) return;
  std::lock_guard<std::mutex> lock(statsMutex);
  lastShownNs = 0;
}

void StatsAudioQueued(double queuedMs) {
  if (!CastStatsEnabled()) return;
  std::lock_guard<std::mutex> lock(statsMutex);
  Push(intervalSamples.audio, runSamples.audio, queuedMs);
}

StatsSnapshot TakeInterval() {
  std::lock_guard<std::mutex> lock(statsMutex);
  StatsSnapshot snapshot = intervalCounts;
  Fill(snapshot, intervalSamples);
  const int scale = intervalCounts.lastScaleDenominator;
  intervalCounts = StatsSnapshot{};
  intervalCounts.lastScaleDenominator = scale;
  intervalSamples.Clear();
  lastInterval = snapshot;
  return snapshot;
}

StatsSnapshot LastInterval() {
  std::lock_guard<std::mutex> lock(statsMutex);
  return lastInterval;
}

StatsSnapshot WholeRun() {
  std::lock_guard<std::mutex> lock(statsMutex);
  StatsSnapshot snapshot = runCounts;
  Samples copy = runSamples;  // Percentile sorts; the run's samples keep their order
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

void ResetCastStatsForTesting() {
  std::lock_guard<std::mutex> lock(statsMutex);
  enabled = false;
  intervalCounts = StatsSnapshot{};
  runCounts = StatsSnapshot{};
  intervalSamples.Clear();
  runSamples.Clear();
  lastShownNs = 0;
  lastInterval = StatsSnapshot{};
}

}  // namespace orrin
