#include "net/accept_loop.h"

#include <chrono>

#include "support/log.h"

namespace orrin {

namespace {

constexpr std::chrono::milliseconds ACCEPT_RETRY_PAUSE{100};

}  // namespace

void AcceptLoop::Run(SocketHandle listener, const std::string& failureText,
                     const std::function<void(Socket, const sockaddr_in&)>& onAccepted) {
  while (running_) {
    sockaddr_in from{};
    SocketHandle fd = AcceptConnection(listener, from);
    if (fd == INVALID_SOCKET_HANDLE) {
      const int code = LastSocketError();
      // A time-out only means the accept looks at `running` again (it waits in steps where
      // nothing else would end it).
      if (running_ && !IsInterruptedError(code) && !IsTimeoutError(code)) {
        LogError(failureText + Code(code));
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, ACCEPT_RETRY_PAUSE, [this] { return !running_; });
      }
      continue;
    }
    Socket accepted(fd);
    if (!running_) break;  // accepted while stopping: `accepted` closes it
    onAccepted(std::move(accepted), from);
  }
}

void AcceptLoop::Interrupt() {
  { std::lock_guard<std::mutex> lock(mutex_); }
  wake_.notify_all();
}

}  // namespace orrin
