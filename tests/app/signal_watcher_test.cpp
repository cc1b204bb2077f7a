#include "app/signal_watcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <vector>

namespace orrin {
namespace {

TEST(SignalWatcher, TurnsStopSignalsIntoCallsAndStopsWhenDestroyed) {
  BlockStopSignals();
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> received;
  {
    SignalWatcher watcher([&](int signal) {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(signal);
      changed.notify_all();
    });
    ASSERT_TRUE(watcher.ok());
    for (const int signal : {SIGTERM, SIGINT}) {
      ASSERT_EQ(kill(getpid(), signal), 0);  // would end the process if it were not caught
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return !received.empty() && received.back() == signal; }));
    }
  }  // joins its thread without another signal
  EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
}

}  // namespace
}  // namespace orrin
