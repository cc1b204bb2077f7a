#pragma once

// The recorder's writing thread: the files being written, one Matroska writer each. Only
// recorder.cpp includes this.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "media/audio_format.h"
#include "record/jpeg_size.h"
#include "record/matroska_writer.h"
#include "record/recorder.h"
#include "support/log.h"
#include "support/user_dirs.h"

namespace orrin {

namespace recording {

// Sound that arrives before the first picture waits for it (the video track's size comes
// from that picture), but not longer than this: a sender that sends only sound is recorded.
inline constexpr int64_t HEADER_WAIT_NS = 3'000'000'000;
// A gap in the sound longer than this (the sender paused) starts its timestamps afresh
// from the clock; shorter ones are the network's jitter and the sound stays contiguous.
inline constexpr int64_t SOUND_RESYNC_NS = 200'000'000;
inline constexpr int DEFAULT_WIDTH = 1280;  // for a file whose sender sent no picture
inline constexpr int DEFAULT_HEIGHT = 720;

inline std::string Seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

}  // namespace recording

// The writing thread's side of one file. Touches the shared status only through the
// callbacks it is given.
class Recorder::Writer {
 public:
  Writer(std::function<void()> beforeWrite, uint64_t number, std::string path, Recorder& owner)
      : file_(std::move(beforeWrite)), number_(number), path_(std::move(path)) {
    Update(owner, [this](Status& s) {
      s.writing = true;
      s.path = path_;
    });
  }

  const std::string& path() const { return path_; }

  // Returns false when the file failed (its error line is kept for TakeFailureLine).
  bool Handle(Item& item, Recorder& owner) {
    switch (item.kind) {
      case Item::OPEN:
        return true;
      case Item::PICTURE:
        if (!active_) return true;
        if (!headerWritten_) {
          int width = recording::DEFAULT_WIDTH;
          int height = recording::DEFAULT_HEIGHT;
          JpegFrameSize(item.picture->data(), item.picture->size(), width, height);
          if (!WriteHeader(width, height, item.ns, owner)) return false;
        }
        return Picture(item, owner);
      case Item::SOUND:
        if (!active_) return true;
        if (!headerWritten_) {
          if (originNs_ == 0) originNs_ = item.ns;
          pending_.push_back(std::move(item));
          if (pending_.back().ns - originNs_ < recording::HEADER_WAIT_NS) return true;
          return WriteHeader(recording::DEFAULT_WIDTH, recording::DEFAULT_HEIGHT, originNs_, owner);
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
    if (!headerWritten_ && !pending_.empty() &&
        !WriteHeader(recording::DEFAULT_WIDTH, recording::DEFAULT_HEIGHT, originNs_, owner))
      return;
    active_ = false;
    if (!headerWritten_) {
      LogInfo("Recording: the sender sent nothing, no file made for " + path_);
      Update(owner, [](Status& s) { s.writing = false; });
      return;
    }
    file_.Close();
    Update(owner, [](Status& s) { s.writing = false; });
    LogInfo("Recording saved: " + path_ + " (" + std::to_string(pictures_) + " pictures, " +
            recording::Seconds(static_cast<double>(soundBytes_) / AUDIO_BYTES_PER_SECOND) + " s of sound, " +
            std::to_string(dropped) + " pictures dropped)");
  }

 private:
  void Update(Recorder& owner, const std::function<void(Status&)>& change) { owner.Update(number_, change); }

  bool WriteHeader(int width, int height, int64_t firstNs, Recorder& owner) {
    std::string error;
    if (originNs_ == 0 || firstNs < originNs_) originNs_ = firstNs;
    if (!file_.Open(path_, width, height, error))
      return Failed("cannot create " + path_ + ": " + error, owner);
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
    Update(owner, [this, seconds](Status& s) {
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
    if (!soundStarted_ || item.ns > expected + recording::SOUND_RESYNC_NS) {
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
    Update(owner, [this, seconds](Status& s) {
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
    Update(owner, [&what](Status& s) {
      s.writing = false;
      s.failure = what;
    });
    return false;
  }

  int64_t Ms(int64_t ns) const { return std::max<int64_t>(0, (ns - originNs_) / 1'000'000); }

  MatroskaWriter file_;
  const uint64_t number_;
  std::string failureLine_;
  std::string path_;
  std::vector<Item> pending_;  // sound before the header
  bool active_ = true;
  bool headerWritten_ = false;
  int64_t originNs_ = 0;
  bool soundStarted_ = false;
  int64_t soundAnchorNs_ = 0;
  int64_t soundSamples_ = 0;
  uint64_t pictures_ = 0;
  size_t soundBytes_ = 0;
};

// The files being written, by number, on the writing thread.
class Recorder::Writers {
 public:
  explicit Writers(std::function<void()> beforeWrite) : beforeWrite_(std::move(beforeWrite)) {}

  // Returns false when the item's file failed; its line is then in `failureLine`.
  bool Handle(Item& item, Recorder& owner, std::string& failureLine) {
    if (item.kind == Item::OPEN) {
      const std::string path = item.path.empty() ? FreePath(item.folder) : item.path;
      open_[item.file] = std::make_unique<Writer>(beforeWrite_, item.file, path, owner);
      return true;
    }
    const auto found = open_.find(item.file);
    if (found == open_.end()) return true;  // a file that failed, or ended
    Writer& writer = *found->second;
    const bool ok = writer.Handle(item, owner);
    failureLine = writer.TakeFailureLine();
    if (!ok || item.kind == Item::CLOSE) open_.erase(found);
    return ok;
  }

  // Ends every file still open (the recorder is going).
  void FinishAll(Recorder& owner) {
    for (auto& [number, writer] : open_) {
      writer->Finish(owner, 0);
      if (std::string line = writer->TakeFailureLine(); !line.empty()) LogError(line);
    }
    open_.clear();
  }

 private:
  // A dated name in `folder` that neither an existing file nor a file being begun has (two
  // senders may start within the same second).
  std::string FreePath(const std::string& folder) const {
    const std::string name = folder + "/" + DatedName(std::time(nullptr), ".mkv");
    for (int n = 1;; ++n) {
      std::string path = n == 1 ? name : NumberedPath(name, n);
      const bool taken = std::any_of(open_.begin(), open_.end(),
                                     [&path](const auto& entry) { return entry.second->path() == path; });
      if (!taken && !PathExists(path)) return path;
    }
  }

  std::function<void()> beforeWrite_;
  std::map<uint64_t, std::unique_ptr<Writer>> open_;
};

}  // namespace orrin
