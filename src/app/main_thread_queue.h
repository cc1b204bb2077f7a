#pragma once

#include <SDL.h>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace orrin {

// Calls other threads hand to the main thread, each announced by an SDL user event
// (SDL_PushEvent is thread-safe). Shared with whoever posts, so a thread that still holds
// it after the window is gone only finds a closed queue.
class MainThreadQueue {
 public:
  explicit MainThreadQueue(Uint32 eventType) : eventType_(eventType) {}
  // False (and the call dropped) once the window has closed the queue.
  bool Post(std::function<void()> call);
  std::optional<std::function<void()>> Take();
  void Close();

 private:
  const Uint32 eventType_;
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  bool closed_ = false;
};

// Pushes an SDL user event of `type`; false when SDL's queue refused it.
bool PushUserEvent(Uint32 type);

}  // namespace orrin
