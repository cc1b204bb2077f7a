#include "record/recorder.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

#include "media/audio_format.h"
#include "record/jpeg_size.h"
#include "record/matroska_writer.h"
#include "support/log.h"
#include "support/user_dirs.h"

namespace orrin {
namespace {

constexpr uint64_t DROP_LOG_EVERY = 100;  // the 1st and every 100th dropped picture are logged
// Sound that arrives before the first picture waits for it (the video track's size comes
// from that picture), but not longer than this: a sender that sends only sound is recorded.
constexpr int64_t HEADER_WAIT_NS = 3'000'000'000;
// A gap in the sound longer than this (the sender paused) starts its timestamps afresh
// from the clock; shorter ones are the network's jitter and the sound stays contiguous.
constexpr int64_t SOUND_RESYNC_NS = 200'000'000;
constexpr int DEFAULT_WIDTH = 1280;  // for a file whose sender sent no picture
constexpr int DEFAULT_HEIGHT = 720;

std::string Seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace

// The writing thread's side: one file at a time. Touches the shared status only through
// the callbacks it is given.
class Recorder::Writer {
 public:
  explicit Writer(std::function<void()> beforeWrite) : file_(std::move(beforeWrite)) {}

  // Returns false when the file failed (its error line is written).
  bool Handle(Item& item, Recorder& owner) {
    switch (item.kind) {
      case Item::OPEN:
        Finish(owner, 0);
        path_ = item.path.empty() ? UnusedPath(item.folder, DatedName(std::time(nullptr), ".mkv")) : item.path;
        pending_.clear();
        active_ = true;
        headerWritten_ = false;
        originNs_ = 0;
        soundStarted_ = false;
        pictures_ = 0;
        soundBytes_ = 0;
        owner.Update([this](Status& s) {
          s.writing = true;
          s.path = path_;
        });
        return true;
      case Item::PICTURE:
        if (!active_) return true;
        if (!headerWritten_) {
          int width = DEFAULT_WIDTH;
          int height = DEFAULT_HEIGHT;
          JpegFrameSize(item.picture->data(), item.picture->size(), width, height);
          if (!WriteHeader(width, height, item.ns, owner)) return false;
        }
        return Picture(item, owner);
      case Item::SOUND:
        if (!active_) return true;
        if (!headerWritten_) {
          if (originNs_ == 0) originNs_ = item.ns;
          pending_.push_back(std::move(item));
          if (pending_.back().ns - originNs_ < HEADER_WAIT_NS) return true;
          return WriteHeader(DEFAULT_WIDTH, DEFAULT_HEIGHT, originNs_, owner);
        }
        return Sound(item, owner);
      case Item::CLOSE:
        Finish(owner, item.dropped);
        return true;
    }
    return true;
  }

  // Ends the file: the header now if no picture came, then the trailer.
  // The line is written by the caller once the recorder is disarmed, so whoever reads it
  // finds the recording already ended.
  std::string TakeFailureLine() { return std::exchange(failureLine_, std::string()); }

  void Finish(Recorder& owner, uint64_t dropped) {
    if (!active_) return;
    if (!headerWritten_ && !pending_.empty() && !WriteHeader(DEFAULT_WIDTH, DEFAULT_HEIGHT, originNs_, owner)) return;
    active_ = false;
    if (!headerWritten_) {
      LogInfo("Recording: the sender sent nothing, no file made for " + path_);
      owner.Update([](Status& s) { s.writing = false; });
      return;
    }
    file_.Close();
    owner.Update([](Status& s) { s.writing = false; });
    LogInfo("Recording saved: " + path_ + " (" + std::to_string(pictures_) + " pictures, " +
            Seconds(static_cast<double>(soundBytes_) / AUDIO_BYTES_PER_SECOND) + " s of sound, " +
            std::to_string(dropped) + " pictures dropped)");
  }

 private:
  bool WriteHeader(int width, int height, int64_t firstNs, Recorder& owner) {
    std::string error;
    if (originNs_ == 0 || firstNs < originNs_) originNs_ = firstNs;
    if (!file_.Open(path_, width, height, error)) return Failed("cannot create " + path_ + ": " + error, owner);
    headerWritten_ = true;
    LogInfo("Recording to " + path_);
    std::vector<Item> early;
    early.swap(pending_);
    for (Item& item : early) {
      if (!Sound(item, owner)) return false;
    }
    return true;
  }

  bool Picture(const Item& item, Recorder& owner) {
    std::string error;
    if (!file_.WritePicture(item.picture->data(), item.picture->size(), Ms(item.ns), error)) {
      return Failed("writing " + path_ + " failed: " + error, owner);
    }
    ++pictures_;
    const double seconds = static_cast<double>(item.ns - originNs_) / 1e9;
    owner.Update([this, seconds](Status& s) {
      s.pictures = pictures_;
      s.seconds = std::max(s.seconds, seconds);
    });
    return true;
  }

  bool Sound(const Item& item, Recorder& owner) {
    const size_t size = item.sound.size() & ~size_t{1};  // whole samples
    if (size == 0) return true;
    // Contiguous sound while it flows at about real time; a pause starts again at the clock.
    const int64_t expected = soundAnchorNs_ + soundSamples_ * 1'000'000'000 / AUDIO_SAMPLE_RATE;
    if (!soundStarted_ || item.ns > expected + SOUND_RESYNC_NS) {
      soundStarted_ = true;
      soundAnchorNs_ = std::max(item.ns, originNs_);
      soundSamples_ = 0;
    }
    const int64_t at = soundAnchorNs_ + soundSamples_ * 1'000'000'000 / AUDIO_SAMPLE_RATE;
    std::string error;
    if (!file_.WriteSound(item.sound.data(), size, Ms(at), error)) {
      return Failed("writing " + path_ + " failed: " + error, owner);
    }
    soundSamples_ += static_cast<int64_t>(size / AUDIO_BYTES_PER_SAMPLE);
    soundBytes_ += size;
    const double seconds = static_cast<double>(at - originNs_) / 1e9;
    owner.Update([this, seconds](Status& s) {
      s.soundSeconds = static_cast<double>(soundBytes_) / AUDIO_BYTES_PER_SECOND;
      s.seconds = std::max(s.seconds, seconds);
    });
    return true;
  }

  bool Failed(const std::string& what, Recorder& owner) {
    failureLine_ = "Recording stopped: " + what + "; the cast goes on";
    file_.Close();
    active_ = false;
    pending_.clear();
    owner.Update([&what](Status& s) {
      s.writing = false;
      s.failure = what;
    });
    return false;
  }

  int64_t Ms(int64_t ns) const { return std::max<int64_t>(0, (ns - originNs_) / 1'000'000); }

  MatroskaWriter file_;
  std::string failureLine_;
  std::string path_;
  std::vector<Item> pending_;  // sound before the header
  bool active_ = false;
  bool headerWritten_ = false;
  int64_t originNs_ = 0;
  bool soundStarted_ = false;
  int64_t soundAnchorNs_ = 0;
  int64_t soundSamples_ = 0;
  uint64_t pictures_ = 0;
  size_t soundBytes_ = 0;
};

Recorder::Recorder() : Recorder(Options{}) {}

Recorder::Recorder(Options options) : options_(std::move(options)) {
  thread_ = std::thread([this] { Run(); });
}

Recorder::~Recorder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    CloseLocked();
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Recorder::StartToFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  ArmLocked(path, "");
}

void Recorder::StartInFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  ArmLocked("", folder);
}

void Recorder::ArmLocked(std::string path, std::string folder) {
  CloseLocked();
  armed_ = true;
  status_.armed = true;
  fixedPath_ = std::move(path);
  folder_ = std::move(folder);
  if (connected_) {
    OpenLocked();
  } else {
    LogInfo("Recording: the next sender is recorded");
  }
}

void Recorder::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!armed_) return;
  armed_ = false;
  status_.armed = false;
  CloseLocked();
  LogInfo("Recording: stopped");
}

bool Recorder::armed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return armed_;
}

void Recorder::OpenLocked() {
  Item item;
  item.kind = Item::OPEN;
  if (!fixedPath_.empty()) {
    ++filesOfFixedPath_;
    item.path = filesOfFixedPath_ == 1 ? fixedPath_ : NumberedPath(fixedPath_, filesOfFixedPath_);
  } else {
    item.folder = folder_;
  }
  fileOpen_ = true;
  droppedPictures_ = 0;
  status_.writing = true;  // at once, so the overlay does not show the old file meanwhile
  status_.path = item.path;
  status_.pictures = 0;
  status_.dropped = 0;
  status_.soundSeconds = 0;
  status_.seconds = 0;
  status_.failure.clear();
  queue_.push_back(std::move(item));
  wake_.notify_one();
}

void Recorder::CloseLocked() {
  if (!fileOpen_) return;
  fileOpen_ = false;
  Item item;
  item.kind = Item::CLOSE;
  item.dropped = droppedPictures_;
  queue_.push_back(std::move(item));
  wake_.notify_one();
}

void Recorder::OnConnection(bool connected) {
  std::lock_guard<std::mutex> lock(mutex_);
  connected_ = connected;
  CloseLocked();  // a new sender replaces the old one: a file each
  if (connected && armed_) OpenLocked();
}

void Recorder::OnPicture(const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs) {
  uint64_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fileOpen_ || jpeg == nullptr) return;
    if (queuedPictureBytes_ + jpeg->size() > options_.pictureBudgetBytes) {
      dropped = ++droppedPictures_;
      status_.dropped = dropped;
    } else {
      queuedPictureBytes_ += jpeg->size();
      Item item;
      item.kind = Item::PICTURE;
      item.picture = jpeg;  // shared with the picture on screen: no copy
      item.ns = receivedNs;
      queue_.push_back(std::move(item));
      wake_.notify_one();
      return;
    }
  }
  if (dropped == 1 || dropped % DROP_LOG_EVERY == 0) {
    LogInfo("Recording: the disk is not keeping up, " + std::to_string(dropped) +
            " pictures dropped from the file so far");
  }
}

void Recorder::OnSound(const ByteBuffer& pcm, int64_t receivedNs) {
  uint64_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fileOpen_ || pcm.empty()) return;
    if (queuedSoundBytes_ + pcm.size() > options_.soundBudgetBytes) {
      dropped = ++droppedSound_;
    } else {
      queuedSoundBytes_ += pcm.size();
      Item item;
      item.kind = Item::SOUND;
      item.sound = pcm;
      item.ns = receivedNs;
      queue_.push_back(std::move(item));
      wake_.notify_one();
      return;
    }
  }
  if (dropped == 1 || dropped % DROP_LOG_EVERY == 0) {
    LogError("Recording: the disk has stalled, " + std::to_string(dropped) + " sound frames dropped from the file");
  }
}

CastSink Recorder::Sink() {
  CastSink sink;
  sink.started = [this](CastSession&) { OnConnection(true); };
  sink.picture = [this](CastSession&, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t ns) { OnPicture(jpeg, ns); };
  sink.sound = [this](CastSession&, const ByteBuffer& pcm, int64_t ns) { OnSound(pcm, ns); };
  sink.ended = [this](CastSession&) { OnConnection(false); };
  return sink;
}

Recorder::Status Recorder::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

void Recorder::Update(const std::function<void(Status&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(status_);
}

void Recorder::Run() {
  Writer writer(options_.beforeWrite);
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) break;  // stopping, and everything is written
    Item item = std::move(queue_.front());
    queue_.pop_front();
    if (item.kind == Item::PICTURE) queuedPictureBytes_ -= item.picture->size();
    if (item.kind == Item::SOUND) queuedSoundBytes_ -= item.sound.size();
    lock.unlock();
    const bool ok = writer.Handle(item, *this);
    lock.lock();
    if (!ok) {
      // The file failed: the recording ends, and what was queued for it goes.
      armed_ = false;
      status_.armed = false;
      fileOpen_ = false;
      std::deque<Item> kept;
      for (Item& queued : queue_) {
        if (queued.kind == Item::PICTURE) {
          queuedPictureBytes_ -= queued.picture->size();
        } else if (queued.kind == Item::SOUND) {
          queuedSoundBytes_ -= queued.sound.size();
        } else {
          kept.push_back(std::move(queued));
        }
      }
      queue_.swap(kept);
    }
    if (std::string line = writer.TakeFailureLine(); !line.empty()) {
      lock.unlock();
      LogError(line);
      lock.lock();
    }
  }
  lock.unlock();
  writer.Finish(*this, 0);
  if (std::string line = writer.TakeFailureLine(); !line.empty()) LogError(line);
}

}  // namespace orrin
