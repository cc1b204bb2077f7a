#include "app/main_thread_queue.h"

#include <utility>

namespace orrin {

bool PushUserEvent(Uint32 type) {
  SDL_Event event{};
  event.type = type;
  return SDL_PushEvent(&event) == 1;
}

bool MainThreadQueue::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    calls_.push_back(std::move(call));
  }
  PushUserEvent(eventType_);
  return true;
}

std::optional<std::function<void()>> MainThreadQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (calls_.empty()) return std::nullopt;
  auto call = std::move(calls_.front());
  calls_.pop_front();
  return call;
}

void MainThreadQueue::Close() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(calls_);
  }
  // Destroyed outside the lock: a dropped error-box call releases its waiting caller.
}

}  // namespace orrin
