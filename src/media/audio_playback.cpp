#include "media/audio_playback.h"

#include <SDL.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>

#include "support/log.h"

namespace orrin {
namespace {

// The callbacks run on one client thread at a time, but shut-down and a statistics reader
// come from other threads, so the device handle lives under a lock. Nothing under it waits
// for the sound card: SDL_QueueAudio copies and returns.
struct AudioDevice {
  std::mutex mutex;
  SDL_AudioDeviceID id = 0;  // 0: closed
  bool isAudioInitialized = false;
};

AudioDevice& Device() {
  static AudioDevice device;
  return device;
}

std::atomic<int64_t> audioFrameCount{0};
std::atomic<uint64_t> droppedFrames{0};

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
  wanted.format = AUDIO_S16LSB;
  wanted.channels = AUDIO_CHANNELS;
  wanted.samples = 1024;       // 64 ms per device buffer, SDL's usual size for this rate
  wanted.callback = nullptr;   // queue mode: SDL frees what it has played
  // No allowed changes: SDL converts to whatever the hardware wants.
  SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
  if (id == 0) {
    std::string line = SdlFailure("Failed to open audio device: ", id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);  // so the next try reads the driver choice afresh
    LogError(line);
    return false;
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
  size_t queued = SDL_GetQueuedAudioSize(device.id);
  if (queued > 0 && queued + length > MAX_QUEUED_AUDIO_BYTES) {
    uint64_t dropCount = ++droppedFrames;
    if (ShouldLogDrop(dropCount)) {
      LogError("Audio queue full (" + std::to_string(queued) + " bytes waiting), dropped frame of " +
               std::to_string(data.size()) + " bytes (" + std::to_string(dropCount) +
               " dropped so far)");
    }
    return;
  }
  int result = SDL_QueueAudio(device.id, data.data(), static_cast<Uint32>(length));
  if (result != 0) LogError(SdlFailure("Failed to write audio data: ", result));
}

void OnAudioFrame(const ByteBuffer& data) {
  try {
    // Every frame counts, including those that are then not played.
    int64_t frame = ++audioFrameCount;
    if (frame % AUDIO_LOG_EVERY == 0) {
      LogProgress("OnAudioFrame called with " + std::to_string(data.size()) + " bytes (frame #" +
              std::to_string(frame) + ")");
    }
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
  return device.isAudioInitialized ? SDL_GetQueuedAudioSize(device.id) : 0;
}

uint64_t DroppedAudioFrames() { return droppedFrames.load(); }

void ResetAudioForTesting() {
  CloseAudioDevice();
  audioFrameCount = 0;
  droppedFrames = 0;
}

}  // namespace orrin
