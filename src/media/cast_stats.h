#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orrin {

struct ReceiverMetrics;

// Counters and timings of the picture path, for `--stats` and the benchmarks. Off by
// default: then every hook is one relaxed atomic load and nothing else, so the path a user
// runs pays nothing for it.

// Monotonic nanoseconds (steady clock): the time stamps the picture path carries.
int64_t NowNs();

void EnableCastStats(bool on);
bool CastStatsEnabled();

// The running totals the shared view reports (null: none). Fed by the same hooks, whether
// or not statistics are on; the caller keeps `metrics` alive until it sets null again.
void SetCastMetrics(ReceiverMetrics* metrics);
// Whether the picture path should take its time stamps: for statistics or for the metrics.
bool CastTimingWanted();

// Hooks, each a no-op while statistics are off.
void StatsPictureReceived(size_t bytes);  // a video frame reached the cast callbacks
void StatsPictureDropped();              // the 20 ms throttle dropped it unseen
void StatsPictureDecoded(double decodeMs, int scaleDenominator);
// A new picture reached the screen: upload and draw of that paint pass, and the delay from
// its last byte received to SDL_RenderPresent returned. The time between two such presents
// is the gap a viewer sees between picture changes.
void StatsPictureShown(double uploadMs, double drawMs, double delayMs);
// A sender connected: the next shown picture starts a new run of gaps (the idle time before
// it is no gap in a cast).
void StatsCastStarted();
// Sound waiting for the device, sampled each time the device takes a buffer.
void StatsAudioQueued(double queuedMs);

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

// What happened since the previous TakeInterval call (the once-a-second line).
StatsSnapshot TakeInterval();
// The interval the last TakeInterval call closed (the window's overlay shows it).
StatsSnapshot LastInterval();
// Everything since statistics were enabled (the summary at exit).
StatsSnapshot WholeRun();

// p-th percentile (0..100) by nearest rank; 0 for no samples. Sorts `samples`.
double Percentile(std::vector<double>& samples, double p);

// "stats: received 50, shown 50, dropped 0, decode p50 6.2 ms (scale 1/1), present delay
// p50 9.8 ms, audio queued 120 ms" — counts are per line (once a second).
std::string FormatStatsLine(const StatsSnapshot& interval, double audioQueuedMs);
// The whole run, with p50 and p99 of every timing, written once when the receiver stops.
std::string FormatStatsSummary(const StatsSnapshot& run, double seconds);

// Tests: statistics off and every counter back to zero.
void ResetCastStatsForTesting();

}  // namespace orrin
