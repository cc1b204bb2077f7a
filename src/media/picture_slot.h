#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "media/picture.h"

namespace orrin {

// A sender's newest decoded picture, and the few decoded pictures waiting for their time to
// be shown. The sender's thread replaces or queues, the main thread brings the due ones
// forward and uploads the held one into its texture. The lock guards the pictures and the
// generation and nothing else; it is held for a swap or a copy into a texture, never across
// a window or log call.
class PictureSlot {
 public:
  // Pictures waiting at most; a newer one pushes the oldest out.
  static constexpr size_t MAX_WAITING = 4;

  // Puts `picture` (null to clear) in place of the held one, drops the waiting ones and
  // bumps the generation; old pictures are destroyed after the lock is released (nobody
  // else can reach them then).
  void Replace(std::unique_ptr<Picture> picture) {
    std::deque<Waiting> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped.swap(waiting_);
      if (picture_ == nullptr && picture == nullptr) return;
      std::swap(picture_, picture);
      ++generation_;
    }
  }

  // Keeps `picture` to be shown from `showAtNs` on (never before a picture queued earlier).
  // Waiting pictures whose time came by `nowNs` come forward first, so a slot nobody
  // paints from holds no more than the hold's worth.
  void Queue(std::unique_ptr<Picture> picture, int64_t showAtNs, int64_t nowNs) {
    std::optional<Waiting> dropped;
    std::vector<std::unique_ptr<Picture>> old;
    std::lock_guard<std::mutex> lock(mutex_);
    ShowDueLocked(nowNs, old);
    if (!waiting_.empty()) showAtNs = std::max(showAtNs, waiting_.back().showAtNs);
    if (waiting_.size() == MAX_WAITING) {
      dropped = std::move(waiting_.front());
      waiting_.pop_front();
    }
    waiting_.push_back(Waiting{std::move(picture), showAtNs});
  }

  // Puts the newest waiting picture whose time has come in place of the held one (the
  // older due ones are passed over); returns when the next waiting one is due, if any.
  std::optional<int64_t> ShowDue(int64_t nowNs) {
    std::vector<std::unique_ptr<Picture>> old;
    std::lock_guard<std::mutex> lock(mutex_);
    ShowDueLocked(nowNs, old);
    if (waiting_.empty()) return std::nullopt;
    return waiting_.front().showAtNs;
  }

  bool Waits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !waiting_.empty();
  }

  // Calls `use(const Picture* picture, uint64_t generation)` under the lock; the picture is
  // null when none is held. The generation changes with every replacement, so a reader
  // copies a picture once, not on every paint.
  template <typename F>
  decltype(auto) Read(F&& use) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return use(static_cast<const Picture*>(picture_.get()), generation_);
  }

  bool Holds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return picture_ != nullptr;
  }

 private:
  // The pictures put aside go into `old`, to be destroyed once the lock is released.
  void ShowDueLocked(int64_t nowNs, std::vector<std::unique_ptr<Picture>>& old) {
    while (!waiting_.empty() && waiting_.front().showAtNs <= nowNs) {
      old.push_back(std::exchange(picture_, std::move(waiting_.front().picture)));
      waiting_.pop_front();
      ++generation_;
    }
  }

  struct Waiting {
    std::unique_ptr<Picture> picture;
    int64_t showAtNs = 0;
  };

  mutable std::mutex mutex_;
  std::unique_ptr<Picture> picture_;
  std::deque<Waiting> waiting_;
  uint64_t generation_ = 0;
};

}  // namespace orrin
