#include "record/recorder.h"

#include <deque>
#include <string>
#include <utility>

#include "record/recording_files.h"
#include "support/log.h"

namespace orrin {
namespace {

constexpr uint64_t DROP_LOG_EVERY = 100;  // the 1st and every 100th dropped picture are logged

}  // namespace

Recorder::Recorder() : Recorder(Options{}) {}

Recorder::Recorder(Options options) : options_(std::move(options)) {
  thread_ = std::thread([this] { Run(); });
}

Recorder::~Recorder() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    CloseAllLocked();
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
  CloseAllLocked();
  armed_ = true;
  lastFailure_.clear();
  fixedPath_ = std::move(path);
  folder_ = std::move(folder);
  for (auto& [key, sender] : senders_) OpenLocked(sender);
  if (senders_.empty()) LogInfo("Recording: the next sender is recorded");
}

void Recorder::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!armed_) return;
  armed_ = false;
  CloseAllLocked();
  LogInfo("Recording: stopped");
}

bool Recorder::armed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return armed_;
}

void Recorder::Push(Item item) {
  if (item.kind == Item::PICTURE) queuedPictureBytes_ += item.picture->size();
  if (item.kind == Item::SOUND) queuedSoundBytes_ += item.sound.size();
  queue_.push_back(std::move(item));
  wake_.notify_one();
}

void Recorder::OpenLocked(Sender& sender) {
  Item item;
  item.kind = Item::OPEN;
  item.file = ++lastFile_;
  if (!fixedPath_.empty()) {
    ++filesOfFixedPath_;
    item.path = filesOfFixedPath_ == 1 ? fixedPath_ : NumberedPath(fixedPath_, filesOfFixedPath_);
  } else {
    item.folder = folder_;
  }
  sender.file = item.file;
  sender.droppedPictures = 0;
  // Writing at once, so the overlay does not show the old file meanwhile.
  Status status;
  status.writing = true;
  status.path = item.path;
  files_[item.file] = status;
  Push(std::move(item));
}

void Recorder::CloseLocked(Sender& sender) {
  if (sender.file == 0) return;
  Item item;
  item.kind = Item::CLOSE;
  item.file = std::exchange(sender.file, 0);
  item.dropped = sender.droppedPictures;
  Push(std::move(item));
}

void Recorder::CloseAllLocked() {
  for (auto& [key, sender] : senders_) CloseLocked(sender);
}

void Recorder::OnConnection(SenderKey key, bool connected) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (connected) {
    Sender& sender = senders_[key];
    CloseLocked(sender);
    if (armed_) OpenLocked(sender);
  } else if (const auto found = senders_.find(key); found != senders_.end()) {
    CloseLocked(found->second);
    senders_.erase(found);
  }
}

void Recorder::OnPicture(SenderKey key, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs) {
  uint64_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = senders_.find(key);
    if (found == senders_.end() || found->second.file == 0 || jpeg == nullptr) return;
    Sender& sender = found->second;
    if (queuedPictureBytes_ + jpeg->size() <= options_.pictureBudgetBytes) {
      Item item;
      item.kind = Item::PICTURE;
      item.file = sender.file;
      item.picture = jpeg;  // shared with the picture on screen: no copy
      item.ns = receivedNs;
      Push(std::move(item));
      return;
    }
    dropped = ++sender.droppedPictures;
    if (const auto file = files_.find(sender.file); file != files_.end()) file->second.dropped = dropped;
  }
  if (dropped == 1 || dropped % DROP_LOG_EVERY == 0) {
    LogInfo("Recording: the disk is not keeping up, " + std::to_string(dropped) +
            " pictures dropped from the file so far");
  }
}

void Recorder::OnSound(SenderKey key, const ByteBuffer& pcm, int64_t receivedNs) {
  uint64_t dropped = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = senders_.find(key);
    if (found == senders_.end() || found->second.file == 0 || pcm.empty()) return;
    Sender& sender = found->second;
    if (queuedSoundBytes_ + pcm.size() <= options_.soundBudgetBytes) {
      Item item;
      item.kind = Item::SOUND;
      item.file = sender.file;
      item.sound = pcm;
      item.ns = receivedNs;
      Push(std::move(item));
      return;
    }
    dropped = ++sender.droppedSound;
  }
  if (dropped == 1 || dropped % DROP_LOG_EVERY == 0) {
    LogError("Recording: the disk has stalled, " + std::to_string(dropped) +
             " sound frames dropped from the file");
  }
}

CastSink Recorder::Sink() {
  CastSink sink;
  sink.started = [this](CastSession& session) { OnConnection(&session, true); };
  sink.picture = [this](CastSession& session, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t ns) {
    OnPicture(&session, jpeg, ns);
  };
  sink.sound = [this](CastSession& session, const ByteBuffer& pcm, int64_t ns) {
    OnSound(&session, pcm, ns);
  };
  sink.ended = [this](CastSession& session) { OnConnection(&session, false); };
  return sink;
}

Recorder::Status Recorder::StatusLocked(uint64_t file) const {
  Status status;
  if (const auto found = files_.find(file); found != files_.end()) status = found->second;
  status.armed = armed_;
  if (status.failure.empty()) status.failure = lastFailure_;
  return status;
}

Recorder::Status Recorder::status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
    if (it->second.writing) return StatusLocked(it->first);
  }
  return StatusLocked(lastFile_);
}

Recorder::Status Recorder::status(SenderKey key) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = senders_.find(key);
    if (found != senders_.end() && found->second.file != 0) return StatusLocked(found->second.file);
  }
  return status();
}

void Recorder::Update(uint64_t file, const std::function<void(Status&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = files_.find(file);
  if (found == files_.end()) return;
  change(found->second);
  if (!found->second.failure.empty()) lastFailure_ = found->second.failure;
  // An ended file's figures are kept only while it is the last one begun.
  if (!found->second.writing && file != lastFile_) files_.erase(found);
}

void Recorder::Run() {
  Writers writers(options_.beforeWrite);
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) break;  // stopping, and everything is written
    Item item = std::move(queue_.front());
    queue_.pop_front();
    if (item.kind == Item::PICTURE) queuedPictureBytes_ -= item.picture->size();
    if (item.kind == Item::SOUND) queuedSoundBytes_ -= item.sound.size();
    lock.unlock();
    std::string failureLine;
    const bool ok = writers.Handle(item, *this, failureLine);
    lock.lock();
    if (!ok) {
      // A file failed: the recording ends (the others are ended properly), and the media
      // queued for any file go.
      armed_ = false;
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
      CloseAllLocked();
    }
    if (!failureLine.empty()) {
      lock.unlock();
      LogError(failureLine);
      lock.lock();
    }
  }
  lock.unlock();
  writers.FinishAll(*this);
}

}  // namespace orrin
