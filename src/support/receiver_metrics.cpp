#include "support/receiver_metrics.h"

#include <algorithm>
#include <cmath>

namespace orrin {

namespace {

// From 1 ms to 1 s: decoding takes a few ms, a picture reaches the screen in tens of ms; a
// second means something is wrong.
std::vector<double> TimingBounds() { return {0.001, 0.0025, 0.005, 0.01, 0.02, 0.035, 0.05, 0.075, 0.1, 0.25, 0.5, 1}; }

}  // namespace

Histogram::Histogram(std::vector<double> upperBounds)
    : bounds_(std::move(upperBounds)), counts_(std::make_unique<std::atomic<uint64_t>[]>(bounds_.size() + 1)) {
  for (size_t i = 0; i <= bounds_.size(); ++i) counts_[i].store(0, std::memory_order_relaxed);
}

void Histogram::Observe(double value) {
  if (!(value >= 0)) value = 0;  // a clock that stepped, or NaN: counted as no time at all
  const size_t bucket = static_cast<size_t>(std::lower_bound(bounds_.begin(), bounds_.end(), value) - bounds_.begin());
  counts_[bucket].fetch_add(1, std::memory_order_relaxed);
  sumMicros_.fetch_add(static_cast<uint64_t>(std::llround(std::min(value, 1e9) * 1e6)), std::memory_order_relaxed);
}

Histogram::Snapshot Histogram::Take() const {
  Snapshot s;
  s.upperBounds = bounds_;
  uint64_t running = 0;
  // The count is the sum of the buckets read here, so the +Inf bucket and the count always
  // agree even while pictures are observed meanwhile.
  for (size_t i = 0; i <= bounds_.size(); ++i) {
    running += counts_[i].load(std::memory_order_relaxed);
    s.cumulative.push_back(running);
  }
  s.count = running;
  s.sum = static_cast<double>(sumMicros_.load(std::memory_order_relaxed)) / 1e6;
  return s;
}

ReceiverMetrics::ReceiverMetrics() : decodeSeconds(TimingBounds()), presentSeconds(TimingBounds()) {}

}  // namespace orrin
