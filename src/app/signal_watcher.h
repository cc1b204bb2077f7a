#pragma once

#include <functional>
#include <thread>

namespace orrin {

// Turns SIGINT and SIGTERM into a call on a thread of our own, so the ordinary close path
// (not an async-signal handler) handles Ctrl+C and `kill`. On Windows the console's Ctrl+C
// and Ctrl+Break come as SIGINT, the console's close, log-off and shut-down as SIGTERM (on
// the thread the system starts for them).
//
// BlockStopSignals must run on the main thread before any other thread exists: threads
// inherit the mask, so the signals stay pending for the watcher to read. (Nothing to do on
// Windows.)
void BlockStopSignals();

class SignalWatcher {
 public:
  // `onSignal` runs on the watcher's thread, once per signal received.
  explicit SignalWatcher(std::function<void(int signal)> onSignal);
  ~SignalWatcher();  // wakes and joins the thread
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  bool ok() const;

 private:
  void Run();

  std::function<void(int)> onSignal_;
  int signalFd_ = -1;
  int wakeFd_ = -1;
  std::thread thread_;
};

}  // namespace orrin
