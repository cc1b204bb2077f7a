#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "share/share_hub.h"
#include "support/receiver_metrics.h"

namespace orrin {

// What the application knows that neither the hub nor the counters see: the sound device
// and the recorder. Asked for on every /status and /metrics request, from a viewer's thread.
struct ReceiverFacts {
  double soundQueuedSeconds = 0;
  uint64_t soundFramesPlayed = 0;
  uint64_t soundGaps = 0;  // times the sound ran dry while playing
  bool recording = false;
};
using ReceiverFactsSource = std::function<ReceiverFacts()>;

// Everything /status and /metrics tell, gathered at one moment.
struct ShareStatus {
  std::string version;
  double uptimeSeconds = 0;
  SharedSender sender;
  double receivedPerSecond = 0;
  double shownPerSecond = 0;
  ReceiverFacts facts;
  size_t pictureViewers = 0;
  size_t soundListeners = 0;
  uint64_t bytesSent = 0;  // to viewers, all streams and answers
  uint64_t picturesReceived = 0;
  uint64_t picturesShown = 0;
  uint64_t picturesDropped = 0;
  uint64_t connections = 0;
  uint64_t handshakesFailed = 0;
  uint64_t sendersRefused = 0;
  uint64_t discoveryAnswers = 0;
  Histogram::Snapshot decode;
  Histogram::Snapshot present;
};

// A count's growth per second, over the last second or a little more. Fed on every status
// request, from any thread.
class CounterRate {
 public:
  double Update(int64_t nowNs, uint64_t count);

 private:
  struct Point {
    int64_t ns;
    uint64_t count;
  };
  std::mutex mutex_;
  std::deque<Point> points_;
};

std::string StatusJson(const ShareStatus& status);
// Prometheus text exposition (version 0.0.4).
std::string MetricsText(const ShareStatus& status);

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace orrin
