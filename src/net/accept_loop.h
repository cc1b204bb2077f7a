#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "net/socket.h"

namespace orrin {

// The accept side every TCP listener of ours shares: takes connections on a listening
// socket while its owner's `running` flag holds, and retries an accept that keeps failing
// (out of descriptors, out of memory) after a short pause instead of spinning and flooding
// the log. The owner wakes a blocked accept (the socket's Wake) and cuts a pause short
// (Interrupt) when it stops.
class AcceptLoop {
 public:
  explicit AcceptLoop(const std::atomic<bool>& running) : running_(running) {}

  // Runs on the caller's thread until `running` clears. A failed accept writes
  // `failureText` and the error code.
  void Run(SocketHandle listener, const std::string& failureText,
           const std::function<void(Socket accepted, const sockaddr_in& from)>& onAccepted);
  // Ends a pause at once; call after clearing `running`.
  void Interrupt();

 private:
  const std::atomic<bool>& running_;
  std::mutex mutex_;
  std::condition_variable wake_;
};

// Entries that each own a thread, kept in a std::list so a thread can hold a reference to
// its own entry while others come and go; an entry's `finished` says its thread has only to
// return. The owner's lock guards the list and the flags: these take entries out under it,
// and the owner joins them after letting it go.
template <typename Entry>
std::list<Entry> TakeFinished(std::list<Entry>& entries) {
  std::list<Entry> done;
  for (auto it = entries.begin(); it != entries.end();) {
    auto next = std::next(it);
    if (it->finished) done.splice(done.end(), entries, it);
    it = next;
  }
  return done;
}

template <typename Entry>
void JoinAll(std::list<Entry>& entries) {
  for (Entry& entry : entries) {
    if (entry.thread.joinable()) entry.thread.join();
  }
}

// The text of a failed socket call's error code, as every failure line ends.
inline std::string Code(int code) { return std::to_string(code); }

}  // namespace orrin
