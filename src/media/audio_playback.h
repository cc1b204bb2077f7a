#pragma once

#include <cstddef>
#include <cstdint>

#include "support/bytes.h"

namespace orrin {

// The one format senders use: signed 16-bit little-endian mono PCM at 16 kHz. The payload
// carries no format of its own, so the device is always opened for exactly this.
constexpr int AUDIO_SAMPLE_RATE = 16000;
constexpr int AUDIO_CHANNELS = 1;
constexpr int AUDIO_BYTES_PER_SAMPLE = 2;
constexpr size_t AUDIO_BYTES_PER_SECOND = 32000;

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

// The server's audio callback: counts the frame, logs every 50th, plays it. Never throws.
// Runs on the sender's client thread and never waits for the sound card.
void OnAudioFrame(const ByteBuffer& data);

// Opens the device if needed, then queues the payload behind what is already queued (in the
// jitter buffer the device plays from).
// Short payloads are not played; a payload that would push the queue past one second is
// dropped (unless the queue is empty: a long frame from a sender that paces itself plays).
void PlayAudio(const ByteBuffer& data);

// Opens the default output device for the fixed format; true when it is open. A failure is
// logged and the next call tries again.
bool InitAudioDevice();

// Shut-down: closes the device and releases SDL's audio subsystem if this code started it.
// Harmless when nothing is open. A later frame would open the device again.
void CloseAudioDevice();

// Bytes waiting in the device's queue (0 while closed).
size_t QueuedAudioBytes();
// Frames dropped because the queue was full, since start.
uint64_t DroppedAudioFrames();
// Frames queued for the device, since start.
uint64_t PlayedAudioFrames();
// Times the sound ran dry while playing, since start.
uint64_t AudioGaps();
// Samples taken out to hold the delay down, since the device was opened.
uint64_t TrimmedAudioSamples();

// Tests: closes the device and sets the frame and drop counters back to zero.
void ResetAudioForTesting();

}  // namespace orrin
