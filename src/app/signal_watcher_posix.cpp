#include "app/signal_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>

#include "support/log.h"

namespace orrin {

namespace {
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool SignalWatcher::ok() const { return signalFd_ >= 0 && wakeFd_ >= 0; }

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  const sigset_t set = StopSignals();
  signalFd_ = signalfd(-1, &set, SFD_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_CLOEXEC);
  if (!ok()) {
    LogError("signalfd/eventfd failed: " + std::to_string(errno));
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

SignalWatcher::~SignalWatcher() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (signalFd_ >= 0) close(signalFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

void SignalWatcher::Run() {
  while (true) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      LogError("poll on signals failed: " + std::to_string(errno));
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents != 0) {
      signalfd_siginfo info{};
      if (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        onSignal_(static_cast<int>(info.ssi_signo));
      }
    }
  }
}

}  // namespace orrin
