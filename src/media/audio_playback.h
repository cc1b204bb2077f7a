#pragma once

#include <cstddef>
#include <cstdint>

#include <atomic>
#include <mutex>

#include "media/audio_format.h"
#include "media/jitter_buffer.h"
#include "support/bytes.h"

namespace orrin {

constexpr int AUDIO_LOG_EVERY = 50;        // every 50th audio frame writes a log line
constexpr size_t MIN_AUDIO_BYTES = 100;    // shorter payloads are not played
// At most one second of sound waits for the device. A sender faster than real time would
// otherwise grow both memory and the delay behind the picture without bound.
constexpr size_t MAX_QUEUED_AUDIO_BYTES = AUDIO_BYTES_PER_SECOND;
constexpr uint64_t AUDIO_DROP_LOG_EVERY = 50;  // dropped frames: the 1st and every 50th logged
// Playback starts (and starts again after the queue ran dry) once 70 ms are queued: enough
// to ride out a frame that comes late or frames that come three at a time. When the queue's
// low point stays more than 30 ms above that, a few ms at a time are taken out of quiet
// stretches, so a sender whose clock runs fast does not drift towards the 1 s cap.
constexpr size_t AUDIO_START_MS = 70;
constexpr size_t AUDIO_EXCESS_MS = 30;
constexpr int AUDIO_DEVICE_SAMPLES = 256;  // 16 ms per device buffer

class CastStats;

// The sound output: one SDL audio device, opened for the senders' format when the first
// sound arrives, fed through a jitter buffer. Owned by the receiver; senders' threads play
// into it, SDL's audio thread drains it, shut-down closes it.
class AudioPlayback {
 public:
  // `stats` (may be null) samples the queued sound each time the device takes a buffer.
  explicit AudioPlayback(CastStats* stats = nullptr);
  ~AudioPlayback();
  AudioPlayback(const AudioPlayback&) = delete;
  AudioPlayback& operator=(const AudioPlayback&) = delete;

  // A sender's sound frame: counts it, logs every 50th, plays it. Never throws. Runs on the
  // sender's thread and never waits for the sound card.
  void OnAudioFrame(const ByteBuffer& data);

  // Opens the device if needed, then queues the payload behind what is already queued (in
  // the jitter buffer the device plays from). Short payloads are not played; a payload that
  // would push the queue past one second is dropped (unless the queue is empty: a long frame
  // from a sender that paces itself plays).
  void Play(const ByteBuffer& data);

  // Opens the default output device for the fixed format; true when it is open. A failure is
  // logged and the next call tries again.
  bool Open();
  // Closes the device and releases SDL's audio subsystem if this object started it.
  // Harmless when nothing is open. A later frame would open the device again.
  void Close();

  // Bytes waiting in the device's queue (0 while closed).
  size_t QueuedBytes();
  // Frames dropped because the queue was full.
  uint64_t DroppedFrames() const { return droppedFrames_.load(); }
  // Frames queued for the device.
  uint64_t PlayedFrames() const { return playedFrames_.load(); }
  // Times the sound ran dry while playing.
  uint64_t Gaps();
  // Samples taken out to hold the delay down, since the device was opened.
  uint64_t TrimmedSamples();

 private:
  static void FillDevice(void* userdata, uint8_t* stream, int length);
  bool OpenLocked();
  void CloseLocked();
  void ReopenIfLost();

  CastStats* stats_;
  // Senders play one at a time, but shut-down and a statistics reader come from other
  // threads, so the device handle lives under a lock. Nothing under it waits for the sound
  // card: a frame is copied into the jitter buffer and the call returns.
  std::mutex mutex_;
  uint32_t deviceId_ = 0;  // 0: closed
  bool isAudioInitialized_ = false;
  // The sound waiting for the device. SDL's audio thread takes from it in the callback, so
  // it has a lock of its own that is never held while the device is opened or closed
  // (closing joins that thread). Lock order: `mutex_`, then `bufferMutex_`.
  std::mutex bufferMutex_;
  JitterBuffer buffer_;
  std::atomic<int64_t> audioFrameCount_{0};
  std::atomic<uint64_t> droppedFrames_{0};
  std::atomic<uint64_t> playedFrames_{0};
};

}  // namespace orrin
