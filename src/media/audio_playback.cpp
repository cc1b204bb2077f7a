#include "media/audio_playback.h"

#include <SDL.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>

#include "media/cast_stats.h"
#include "media/jitter_buffer.h"
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

bool ShouldLogDrop(uint64_t dropCount) {
  return dropCount == 1 || dropCount % AUDIO_DROP_LOG_EVERY == 0;
}

}  // namespace

AudioPlayback::AudioPlayback(CastStats* stats) : stats_(stats), buffer_(JitterBufferSettings()) {}

AudioPlayback::~AudioPlayback() { Close(); }

void AudioPlayback::CloseLocked() {
  if (!isAudioInitialized_) return;
  // Joins SDL's audio thread; whatever was still queued is discarded with the device.
  SDL_CloseAudioDevice(deviceId_);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);  // SDL counts: an application's own init stays
  deviceId_ = 0;
  isAudioInitialized_ = false;
}

// SDL's audio thread: hands the device the next samples, silence while the buffer fills.
void AudioPlayback::FillDevice(void* userdata, uint8_t* stream, int length) {
  auto& self = *static_cast<AudioPlayback*>(userdata);
  size_t queued = 0;
  {
    std::lock_guard<std::mutex> lock(self.bufferMutex_);
    self.buffer_.Pull(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(length) / AUDIO_BYTES_PER_SAMPLE);
    queued = self.buffer_.Queued();
  }
  if (self.stats_ != nullptr) self.stats_->AudioQueued(static_cast<double>(queued) * 1000.0 / AUDIO_SAMPLE_RATE);
}

bool AudioPlayback::OpenLocked() {
  if (isAudioInitialized_) return true;
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
  wanted.userdata = this;
  // No allowed changes: SDL converts to whatever the hardware wants.
  SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
  if (id == 0) {
    std::string line = SdlFailure("Failed to open audio device: ", id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);  // so the next try reads the driver choice afresh
    LogError(line);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(bufferMutex_);
    buffer_.Clear();
  }
  SDL_PauseAudioDevice(id, 0);
  deviceId_ = id;
  isAudioInitialized_ = true;
  LogInfo("Audio device initialized successfully");
  return true;
}

// A device that went away (unplugged headset, sound server restart) keeps draining into
// nothing; without this check the cast would stay silent until the receiver restarts.
void AudioPlayback::ReopenIfLost() {
  if (!isAudioInitialized_) return;
  if (SDL_GetAudioDeviceStatus(deviceId_) != SDL_AUDIO_STOPPED) return;
  LogError("Audio device lost, opening it again");
  CloseLocked();
}


bool AudioPlayback::Open() {
  NoteSdlThread();
  std::lock_guard<std::mutex> lock(mutex_);
  return OpenLocked();
}

void AudioPlayback::Play(const ByteBuffer& data) {
  NoteSdlThread();
  std::lock_guard<std::mutex> lock(mutex_);
  ReopenIfLost();
  // Opened before the length test, so a short first frame still opens the device.
  if (!OpenLocked()) return;
  if (data.size() < MIN_AUDIO_BYTES) return;

  // SDL's queue is one continuous byte stream: a dangling half sample would shift every
  // later sample by one byte and turn the rest of the cast into noise. Queue whole samples.
  size_t length = data.size() - data.size() % AUDIO_BYTES_PER_SAMPLE;
  // Little-endian on the wire; the device is opened for the host's own order. Converted
  // straight into the buffer: no copy per frame.
  size_t queued = 0;
  bool taken = false;
  {
    std::lock_guard<std::mutex> bufferLock(bufferMutex_);
    queued = buffer_.Queued() * AUDIO_BYTES_PER_SAMPLE;
    taken = buffer_.PushLittleEndian(data.data(), length / AUDIO_BYTES_PER_SAMPLE);
  }
  if (taken) ++playedFrames_;
  if (!taken) {
    uint64_t dropCount = ++droppedFrames_;
    if (ShouldLogDrop(dropCount)) {
      LogError("Audio queue full (" + std::to_string(queued) + " bytes waiting), dropped frame of " +
               std::to_string(data.size()) + " bytes (" + std::to_string(dropCount) +
               " dropped so far)");
    }
  }
}

void AudioPlayback::OnAudioFrame(const ByteBuffer& data) {
  try {
    // Every frame counts, including those that are then not played.
    int64_t frame = ++audioFrameCount_;
    if (frame % AUDIO_LOG_EVERY == 0) {
      LogProgress("OnAudioFrame called with " + std::to_string(data.size()) + " bytes (frame #" +
              std::to_string(frame) + ")");
    }
    Play(data);
  } catch (const std::exception& e) {
    LogError(std::string("Exception in OnAudioFrame: ") + e.what());
  } catch (...) {
    LogError("Unknown exception in OnAudioFrame");
  }
}

void AudioPlayback::Close() {
  NoteSdlThread();
  std::lock_guard<std::mutex> lock(mutex_);
  CloseLocked();
}

size_t AudioPlayback::QueuedBytes() {
  NoteSdlThread();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!isAudioInitialized_) return 0;
  std::lock_guard<std::mutex> bufferLock(bufferMutex_);
  return buffer_.Queued() * AUDIO_BYTES_PER_SAMPLE;
}

uint64_t AudioPlayback::TrimmedSamples() {
  std::lock_guard<std::mutex> lock(bufferMutex_);
  return buffer_.TrimmedSamples();
}

uint64_t AudioPlayback::Gaps() {
  std::lock_guard<std::mutex> lock(bufferMutex_);
  return buffer_.Underruns();
}

}  // namespace orrin
