#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orrin {

// Sound on its way from the sender to the device, in 16-bit samples. A network delivers
// frames unevenly and the sender's clock never quite matches the sound card's, so:
// - playback starts (and starts again after the queue ran dry) only once `startSamples`
//   are queued, so one late frame does not become a click;
// - while the queue's low point stays more than `highSamples` above the start level, a few
//   ms at a time are taken out where the sound is quiet or repeats itself, and the seam is
//   cross-faded, so the delay stays near the start level instead of creeping upwards;
// - at most `capSamples` wait; a frame that does not fit is refused whole.
// The start level adapts to the link: a Wi-Fi link that stalls (a background scan, a roam)
// empties the queue now and then. After such an underrun the level rises by the time the
// queue stayed dry plus a margin, up to `maxStartSamples`, so the same stall is covered
// next time; once the queue's low point has stayed well above empty for `steadySamples`
// of playback, the level comes down by half of that spare, never below `startSamples`,
// and the cuts above take the delay down with it.
// Samples keep their order and none is played twice. Not thread-safe: the owner locks.
class JitterBuffer {
 public:
  struct Settings {
    size_t startSamples = 1120;  // 70 ms at 16 kHz
    size_t highSamples = 480;    // 30 ms of excess before anything is taken out
    size_t capSamples = 16000;   // 1 s
    size_t checkSamples = 4000;  // the low point is judged over every 250 ms of playback
    // One cut (2-4 ms) per 64 ms played, a 3-6 % speed-up nobody notices in speech; far
    // behind (a device much slower than the sender), one per device buffer.
    size_t cutSpacing = 1024;
    size_t farBehindSamples = 480;  // more than 30 ms left to cut
    size_t maxStartSamples = 4800;  // 300 ms: the longest stall the level is raised to cover
    size_t raiseMarginSamples = 960;  // 60 ms above the stall just seen
    size_t steadySamples = 160000;    // 10 s of playback judged at a time before lowering
    size_t spareSamples = 480;        // a low point within 30 ms of empty is no spare
  };

  JitterBuffer() : JitterBuffer(Settings{}) {}
  explicit JitterBuffer(Settings settings);

  // Appends `count` samples. False (nothing queued) when they would push the queue past the
  // cap; an empty queue takes a frame of any length.
  bool Push(const int16_t* samples, size_t count);
  // The same for `count` samples of 16-bit little-endian PCM as it comes off the wire.
  bool PushLittleEndian(const uint8_t* bytes, size_t count);
  // Fills `out` with the next `count` samples; silence while buffering or when the queue
  // runs dry.
  void Pull(int16_t* out, size_t count);

  size_t Queued() const { return size_; }
  // The level playback starts at now (adapted to the link).
  size_t StartLevel() const { return level_; }
  bool Playing() const { return playing_; }

  // Since construction: times the queue ran dry while playing, samples of silence put into
  // the output after playback had begun, samples taken out to hold the delay down.
  uint64_t Underruns() const { return underruns_; }
  uint64_t SilenceSamples() const { return silenceSamples_; }
  uint64_t TrimmedSamples() const { return trimmedSamples_; }

  void Clear();

 private:
  int16_t& At(size_t index) { return ring_[(head_ + index) % ring_.size()]; }
  template <typename SampleAt>
  bool Append(size_t count, SampleAt sampleAt);
  void TrimOnce();
  void AdaptToSteadiness(size_t pulled);

  Settings settings_;
  std::vector<int16_t> ring_;
  size_t head_ = 0;
  size_t size_ = 0;
  bool playing_ = false;
  bool everPlayed_ = false;
  size_t starvedSamples_ = 0;  // pulled while buffering with nothing new arriving
  size_t level_;                  // the adapted start level
  size_t drySamples_ = 0;          // pulled since the last underrun, before sound came again
  bool dry_ = false;               // an underrun whose length is still being measured
  size_t steadyLow_ = SIZE_MAX;    // the queue's low point in the current steadiness window
  size_t steadyPulled_ = 0;
  size_t lowWater_ = SIZE_MAX;
  size_t sinceCheck_ = 0;
  size_t trimBudget_ = 0;
  size_t sinceCut_ = SIZE_MAX;
  uint64_t underruns_ = 0;
  uint64_t silenceSamples_ = 0;
  uint64_t trimmedSamples_ = 0;
};

}  // namespace orrin
