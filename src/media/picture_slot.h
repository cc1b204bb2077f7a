#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "media/picture.h"

namespace orrin {

// A sender's newest decoded picture. The sender's thread replaces it, the main thread
// uploads it into its texture. The lock guards the picture and its generation and nothing
// else; it is held for a swap or a copy into a texture, never across a window or log call.
class PictureSlot {
 public:
  // Puts `picture` (null to clear) in place of the held one and bumps the generation; the
  // old picture is destroyed after the lock is released (nobody else can reach it then).
  void Replace(std::unique_ptr<Picture> picture) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (picture_ == nullptr && picture == nullptr) return;
      std::swap(picture_, picture);
      ++generation_;
    }
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
  mutable std::mutex mutex_;
  std::unique_ptr<Picture> picture_;
  uint64_t generation_ = 0;
};

}  // namespace orrin
