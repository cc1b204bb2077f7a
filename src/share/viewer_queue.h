#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace orrin {

// What waits for one viewer: a few items at most. The cast's thread pushes and never waits;
// when the viewer falls behind, the oldest item goes, so a slow or stalled viewer loses
// pictures instead of holding anyone up. The viewer's own thread pops.
template <typename T>
class ViewerQueue {
 public:
  explicit ViewerQueue(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

  // False when closed (nothing queued).
  bool Push(T item) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return false;
      if (items_.size() == capacity_) {
        items_.pop_front();
        ++dropped_;
      }
      items_.push_back(std::move(item));
    }
    ready_.notify_one();
    return true;
  }

  // The oldest item, waiting up to `timeout`; empty on time-out and once closed.
  std::optional<T> Pop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return closed_ || !items_.empty(); });
    if (closed_ || items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    return item;
  }

  // Wakes the viewer's thread; later pushes are refused.
  void Close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      items_.clear();
    }
    ready_.notify_all();
  }

  bool Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }

  uint64_t Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
  }

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  bool closed_ = false;
  uint64_t dropped_ = 0;
};

}  // namespace orrin
