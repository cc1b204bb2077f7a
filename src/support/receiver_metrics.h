#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orrin {

// Counts of one kind of timing in fixed buckets, for a Prometheus histogram. Observe is
// lock-free (one relaxed increment per bucket hit and one for the sum), so the picture path
// can feed it on every picture.
class Histogram {
 public:
  // `upperBounds` ascending, in the unit observed (seconds); +Inf is implied.
  explicit Histogram(std::vector<double> upperBounds);

  void Observe(double value);

  struct Snapshot {
    std::vector<double> upperBounds;
    std::vector<uint64_t> cumulative;  // one per bound, then +Inf (== count)
    uint64_t count = 0;
    double sum = 0;
  };
  Snapshot Take() const;

 private:
  std::vector<double> bounds_;
  std::unique_ptr<std::atomic<uint64_t>[]> counts_;  // per bucket (not cumulative), +Inf last
  std::atomic<uint64_t> sumMicros_{0};
};

// The receiver's running totals for whoever reports them (the shared view's /metrics). One
// object, made by the application and handed to the parts that count; each counter only
// ever grows.
struct ReceiverMetrics {
  ReceiverMetrics();

  std::atomic<uint64_t> picturesReceived{0};
  std::atomic<uint64_t> picturesShown{0};
  std::atomic<uint64_t> picturesDropped{0};
  std::atomic<uint64_t> connections{0};       // TCP connections accepted on the cast port
  std::atomic<uint64_t> handshakesFailed{0};
  std::atomic<uint64_t> sendersRefused{0};    // outside --allow, or --hold while another casts
  std::atomic<uint64_t> discoveryAnswers{0};
  // Last byte received to the decoded picture, and to the picture on screen.
  Histogram decodeSeconds;
  Histogram presentSeconds;
};

inline void Count(std::atomic<uint64_t>* counter) {
  if (counter != nullptr) counter->fetch_add(1, std::memory_order_relaxed);
}

}  // namespace orrin
