#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orrin {

struct ReceiverMetrics;

// Counters and timings of the picture path, for `--stats`, the overlay and the benchmarks.

// Monotonic nanoseconds (steady clock): the time stamps the picture path carries.
int64_t NowNs();

// A gap between two shown pictures longer than this is counted: a stutter a viewer notices.
constexpr double STATS_LONG_GAP_MS = 50;

// Percentiles of one kind of timing, in milliseconds (0 when there is no sample).
struct TimingSummary {
  size_t count = 0;
  double p50 = 0;
  double p99 = 0;
};

struct StatsSnapshot {
  uint64_t received = 0;
  uint64_t receivedBytes = 0;
  uint64_t shown = 0;
  uint64_t dropped = 0;
  uint64_t decoded = 0;
  int lastScaleDenominator = 1;  // 1, 2 or 4: the TurboJPEG scale of the newest decode
  TimingSummary decode, upload, draw, delay;
  TimingSummary audio;  // queued sound (ms); no samples while nothing is played
  double longestGapMs = 0;
  uint64_t longGaps = 0;  // gaps above STATS_LONG_GAP_MS
};

// The counters and timings of one run. Owned by the receiver and handed to whoever feeds or
// reads it; the sender's thread, the main thread and SDL's audio thread record into it, so
// every method is thread-safe. Off until Enable(true): then every hook is one relaxed load.
class CastStats {
 public:
  void Enable(bool on) { enabled_.store(on, std::memory_order_relaxed); }
  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
  // The running totals the shared view reports (null: none). Fed by the same hooks whether
  // or not statistics are on; set before any sender arrives, kept alive as long as this.
  void SetMetrics(ReceiverMetrics* metrics) { metrics_.store(metrics, std::memory_order_release); }
  // Whether the picture path should take its time stamps: for statistics or for the metrics.
  bool TimingWanted() const { return Enabled() || metrics_.load(std::memory_order_acquire) != nullptr; }

  void PictureReceived(size_t bytes);  // a video frame reached the cast session
  void PictureDropped();               // the intake spacing dropped it unseen
  void PictureDecoded(double decodeMs, int scaleDenominator);
  // A new picture reached the screen: upload and draw of that paint pass, and the delay from
  // its last byte received to SDL_RenderPresent returned. The time between two such presents
  // is the gap a viewer sees between picture changes.
  void PictureShown(double uploadMs, double drawMs, double delayMs);
  // A sender connected: the next shown picture starts a new run of gaps (the idle time before
  // it is no gap in a cast).
  void CastStarted();
  // Sound waiting for the device, sampled each time the device takes a buffer.
  void AudioQueued(double queuedMs);

  // What happened since the previous TakeInterval call (the once-a-second line).
  StatsSnapshot TakeInterval();
  // The interval the last TakeInterval call closed (the window's overlay shows it).
  StatsSnapshot LastInterval() const;
  // Everything since statistics were enabled (the summary at exit).
  StatsSnapshot WholeRun() const;

 private:
  struct Samples {
    std::vector<double> decode, upload, draw, delay, audio;
    void Clear();
  };
  template <typename F>
  void Update(F&& change);

  std::atomic<bool> enabled_{false};
  std::atomic<ReceiverMetrics*> metrics_{nullptr};
  // One short lock per picture is far below the cost of the picture itself, and only taken
  // while enabled.
  mutable std::mutex mutex_;
  StatsSnapshot intervalCounts_;
  StatsSnapshot runCounts_;
  Samples intervalSamples_;
  Samples runSamples_;
  int64_t lastShownNs_ = 0;  // 0: no picture shown yet in this cast
  StatsSnapshot lastInterval_;
};

// p-th percentile (0..100) by nearest rank; 0 for no samples. Sorts `samples`.
double Percentile(std::vector<double>& samples, double p);

// "stats: received 50, shown 50, dropped 0, decode p50 6.2 ms (scale 1/1), present delay
// p50 9.8 ms, audio queued 120 ms" — counts are per line (once a second).
std::string FormatStatsLine(const StatsSnapshot& interval, double audioQueuedMs);
// The whole run, with p50 and p99 of every timing, written once when the receiver stops.
std::string FormatStatsSummary(const StatsSnapshot& run, double seconds);

}  // namespace orrin
