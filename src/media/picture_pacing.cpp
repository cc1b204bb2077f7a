#include "media/picture_pacing.h"

#include <algorithm>

namespace orrin {

std::optional<int64_t> RepaintPacer::PictureStored(int64_t nowNs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_) return std::nullopt;
  int64_t due = nowNs;
  // Never more than one interval ahead, whatever the clock did.
  if (lastRequestNs_) due = std::clamp(*lastRequestNs_ + intervalNs_, nowNs, nowNs + intervalNs_);
  lastRequestNs_ = due;
  pending_ = true;
  return due;
}

void RepaintPacer::RepaintTaken() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ = false;
}

bool IntakeGate::Accept(int64_t nowNs) {
  const int64_t tolerance = intervalNs_ / 2;
  if (nextNs_ && nowNs < *nextNs_ - tolerance) return false;
  // A late picture does not move the grid (up to half a period); after a pause the grid
  // starts again from this picture.
  nextNs_ = std::max(nextNs_.value_or(nowNs), nowNs - tolerance) + intervalNs_;
  return true;
}

}  // namespace orrin
