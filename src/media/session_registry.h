#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "media/cast_session.h"

namespace orrin {

// The senders casting now, in the order they connected: whoever reports on the run (the
// overlay, a status page) reads it; the receiver adds a session when its handshake succeeds
// and removes it when its connection ends. Thread-safe.
class SessionRegistry {
 public:
  void Add(std::shared_ptr<CastSession> session) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.push_back(std::move(session));
  }
  void Remove(const CastSession* session) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(sessions_, [session](const auto& held) { return held.get() == session; });
  }
  std::vector<std::shared_ptr<CastSession>> Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessions_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<CastSession>> sessions_;
};

}  // namespace orrin
