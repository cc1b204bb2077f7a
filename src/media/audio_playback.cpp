#include "media/audio_playback.h"

#include <SDL.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>

#include "media/cast_stats.h"
#include "media/jitter_buffer.h"
#include "media/cast_tap.h"
#include "support/log.h"

namespace orrin {
namespace {

JitterBuffer::Settings JitterBufferSettings() {
  JitterBuffer::Settings settings;
  settings.startSamples = AUDIO_START_MS * AUDIO_SAMPLE_RATE / 1000;
  settings.highSamples = AUDIO_EXCESS_MS * AUDIO_SAMPLE_RATE / 1000;
  settings.capSamples = MAX_QUEUED_AUDIO_BYTES / AUDIO_BYTES_PER_SAMPLE;
  return settings;
}

// The callbacks run on one client thread at a time, but shut-down and a statistics reader
// come from other threads, so the device handle lives under a lock. Nothing under it waits
// for the sound card: a frame is copied into the jitter buffer and the call returns.
struct AudioDevice {
  std::mutex mutex;
  SDL_AudioDeviceID id = 0;  // 0: closed
  bool isAudioInitialized = false;
  // The sound waiting for the device. SDL's audio thread takes from it in the callback, so
  // it has a lock of its own that is never held while the device is opened or closed
  // (closing joins that thread). Lock order: `mutex`, then `bufferMutex`.
  std::mutex bufferMutex;
  JitterBuffer buffer{JitterBufferSettings()};
};

AudioDevice& Device() {
  static AudioDevice device;
  return device;
}

std::atomic<int64_t> audioFrameCount{0};
std::atomic<uint64_t> droppedFrames{0};
std::atomic<uint64_t> playedFrames{0};

// SDL keeps per-thread data (its error text) for each thread that calls it, and frees it
// on its own only for threads it created. Each sender's client thread is one of ours, so it
// gives that data back when it ends; otherwise every connection would leave some behind.
struct SdlThreadData {
  ~SdlThreadData() { SDL_TLSCleanup(); }
};

void NoteSdlThread() {
  thread_local SdlThreadData data;
  (void)data;
}

std::string SdlFailure(const char* what, long long result) {
  return std::string(what) + std::to_string(result) + " (" + SDL_GetError() + ")";
}

void CloseLocked(AudioDevice& device) {
  if (!device.isAudioInitialized) return;
  // Joins SDL's audio thread; whatever was still queued is discarded with the device.
  SDL_CloseAudioDevice(device.id);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);  // SDL counts: an application's own init stays
  device.id = 0;
  device.isAudioInitialized = false;
}

// SDL's audio thread: hands the device the next samples, silence while the buffer fills.
void FillDevice(void* userdata, Uint8* stream, int length) {
  auto& device = *static_cast<AudioDevice*>(userdata);
  size_t queued = 0;
  {
    std::lock_guard<std::mutex> lock(device.bufferMutex);
    device.buffer.Pull(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(length) / AUDIO_BYTES_PER_SAMPLE);
    queued = device.buffer.Queued();
  }
  StatsAudioQueued(static_cast<double>(queued) * 1000.0 / AUDIO_SAMPLE_RATE);
}

bool InitLocked(AudioDevice& device) {
  if (device.isAudioInitialized) return true;
  // SDL counts subsystem initialisations, so this is safe whether or not the application
  // has started SDL already, and CloseLocked gives back exactly this one.
  int initResult = SDL_InitSubSystem(SDL_INIT_AUDIO);
  if (initResult != 0) {
    LogError(SdlFailure("Failed to open audio device: ", initResult));
    return false;
  }
  SDL_AudioSpec wanted{};
  wanted.freq = AUDIO_SAMPLE_RATE;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = AUDIO_CHANNELS;
  // 16 ms per device buffer: small enough that the jitter buffer, not the device, sets the
  // delay, large enough for a busy desktop to keep up.
  wanted.samples = AUDIO_DEVICE_SAMPLES;
  wanted.callback = FillDevice;
  wanted.userdata = &device;
  // No allowed changes: SDL converts to whatever the hardware wants.
  SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
  if (id == 0) {
    std::string line = SdlFailure("Failed to open audio device: ", id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);  // so the next try reads the driver choice afresh
    LogError(line);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(device.bufferMutex);
    device.buffer.Clear();
  }
  SDL_PauseAudioDevice(id, 0);
  device.id = id;
  device.isAudioInitialized = true;
  LogInfo("Audio device initialized successfully");
  return true;
}

// A device that went away (unplugged headset, sound server restart) keeps draining into
// nothing; without this check the cast would stay silent until the receiver restarts.
void ReopenIfLost(AudioDevice& device) {
  if (!device.isAudioInitialized) return;
  if (SDL_GetAudioDeviceStatus(device.id) != SDL_AUDIO_STOPPED) return;
  LogError("Audio device lost, opening it again");
  CloseLocked(device);
}

bool ShouldLogDrop(uint64_t dropCount) {
  return dropCount == 1 || dropCount % AUDIO_DROP_LOG_EVERY == 0;
}

}  // namespace

bool InitAudioDevice() {
  NoteSdlThread();
  AudioDevice& device = Device();
  std::lock_guard<std::mutex> lock(device.mutex);
  return InitLocked(device);
}

void PlayAudio(const ByteBuffer& data) {
  NoteSdlThread();
  AudioDevice& device = Device();
  std::lock_guard<std::mutex> lock(device.mutex);
  ReopenIfLost(device);
  // Opened before the length test, so a short first frame still opens the device.
  if (!InitLocked(device)) return;
  if (data.size() < MIN_AUDIO_BYTES) return;

  // SDL's queue is one continuous byte stream: a dangling half sample would shift every
  // later sample by one byte and turn the rest of the cast into noise. Queue whole samples.
  size_t length = data.size() - data.size() % AUDIO_BYTES_PER_SAMPLE;
  // Little-endian on the wire; the device is opened for the host's own order. Converted
  // straight into the buffer: no copy per frame.
  size_t queued = 0;
  bool taken = false;
  {
    std::lock_guard<std::mutex> bufferLock(device.bufferMutex);
    queued = device.buffer.Queued() * AUDIO_BYTES_PER_SAMPLE;
    taken = device.buffer.PushLittleEndian(data.data(), length / AUDIO_BYTES_PER_SAMPLE);
  }
  if (taken) ++playedFrames;
  if (!taken) {
    uint64_t dropCount = ++droppedFrames;
    if (ShouldLogDrop(dropCount)) {
      LogError("Audio queue full (" + std::to_string(queued) + " bytes waiting), dropped frame of " +
               std::to_string(data.size()) + " bytes (" + std::to_string(dropCount) +
               " dropped so far)");
    }
  }
}

void OnAudioFrame(const ByteBuffer& data) {
  try {
    // Every frame counts, including those that are then not played.
    int64_t frame = ++audioFrameCount;
    if (frame % AUDIO_LOG_EVERY == 0) {
      LogProgress("OnAudioFrame called with " + std::to_string(data.size()) + " bytes (frame #" +
              std::to_string(frame) + ")");
    }
    // The recording keeps the sound as sent, also what the device queue has no room for.
    TapSound(data, NowNs());
    PlayAudio(data);
  } catch (const std::exception& e) {
    LogError(std::string("Exception in OnAudioFrame: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in OnAudioFrame");
  }
}

void CloseAudioDevice() {
  NoteSdlThread();
  AudioDevice& device = Device();
  std::lock_guard<std::mutex> lock(device.mutex);
  CloseLocked(device);
}

size_t QueuedAudioBytes() {
  NoteSdlThread();
  AudioDevice& device = Device();
  std::lock_guard<std::mutex> lock(device.mutex);
  if (!device.isAudioInitialized) return 0;
  std::lock_guard<std::mutex> bufferLock(device.bufferMutex);
  return device.buffer.Queued() * AUDIO_BYTES_PER_SAMPLE;
}

uint64_t DroppedAudioFrames() { return droppedFrames.load(); }
uint64_t PlayedAudioFrames() { return playedFrames.load(); }

uint64_t AudioGaps() {
  AudioDevice& device = Device();
  std::lock_guard<std::mutex> lock(device.bufferMutex);
  return device.buffer.Underruns();
}

uint64_t TrimmedAudioSamples() {
  AudioDevice& device = Device();
  std::lock_guard<std::mutex> lock(device.bufferMutex);
  return device.buffer.TrimmedSamples();
}

void ResetAudioForTesting() {
  CloseAudioDevice();
  audioFrameCount = 0;
  droppedFrames = 0;
  playedFrames = 0;
}

}  // namespace orrin
