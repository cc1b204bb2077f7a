#include "support/log_thinning.h"

#include <gtest/gtest.h>

#include "support/log.h"
#include "test_support/log_capture.h"

#include <string>
#include <atomic>
#include <thread>
#include <vector>

namespace orrin {
namespace {

TEST(LogThinner, WritesTheFirstAndEveryNthPerSource) {
  LogThinner thinner(10);
  std::vector<uint64_t> written;
  for (int i = 0; i < 25; ++i) {
    if (uint64_t n = thinner.Note("10.0.0.2")) written.push_back(n);
  }
  EXPECT_EQ(written, (std::vector<uint64_t>{1, 10, 20}));
  // Another source has a count of its own.
  EXPECT_EQ(thinner.Note("10.0.0.3"), 1u);
  thinner.Reset();
  EXPECT_EQ(thinner.Note("10.0.0.2"), 1u);
}

TEST(LogThinner, AFirstRunInFullAndAForgottenSourceStartsAgain) {
  LogThinner thinner(10, 256, 3);
  std::vector<uint64_t> written;
  for (int i = 0; i < 12; ++i) {
    if (uint64_t n = thinner.Note("10.0.0.2")) written.push_back(n);
  }
  EXPECT_EQ(written, (std::vector<uint64_t>{1, 2, 3, 10}));
  EXPECT_EQ(thinner.Note("10.0.0.3"), 1u);
  thinner.Forget("10.0.0.2");
  EXPECT_EQ(thinner.Note("10.0.0.2"), 1u);
  EXPECT_EQ(thinner.Note("10.0.0.3"), 2u);  // the others keep their counts
}

TEST(LogThinner, ManySourcesShareOneCounterPastTheBound) {
  LogThinner thinner(100, 4);
  int written = 0;
  for (int i = 0; i < 10000; ++i) {
    if (thinner.Note("src" + std::to_string(i)) != 0) ++written;
  }
  // Four first lines for the remembered sources, then 1st, 100th, ... of the shared counter.
  EXPECT_EQ(written, 4 + 1 + 9996 / 100);
}

TEST(LogThinner, CountsEveryOccurrenceAcrossThreads) {
  LogThinner thinner(1000);
  std::vector<std::thread> threads;
  std::atomic<int> written{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2500; ++i) {
        if (thinner.Note() != 0) ++written;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(written.load(), 1 + 10);  // 1, 1000, ..., 10000
}

TEST(ThinnedLine, FirstUnchangedLaterWithCount) {
  EXPECT_EQ(ThinnedLine("WebSocket握手失败", 1), "WebSocket握手失败");
  EXPECT_EQ(ThinnedLine("WebSocket握手失败", 50), "WebSocket握手失败 (50 times)");
}

TEST(LogLevels, PerMessageProgressIsSampledByDefaultDroppedWhenQuietWholeWhenVerbose) {
  test::LogCapture log;
  LogThinner kind(30);
  auto send = [&kind](int count) {
    for (int i = 0; i < count; ++i) {
      LogMessageProgress(kind, "Processing frame: type=0");
      LogProgress("WM_PAINT called");
    }
  };
  SetLogLevel(LogLevel::Normal);
  send(60);
  EXPECT_EQ(log.Count("Processing frame"), 3);  // the 1st, 30th and 60th
  EXPECT_EQ(log.Count("Processing frame: type=0 (60 times)"), 1);
  EXPECT_EQ(log.Count("WM_PAINT called"), 60);  // the caller's own counter decides
  log.Clear();
  SetLogLevel(LogLevel::Quiet);
  send(60);
  LogThinner faults(30);
  LogErrorThinned(faults, "Frame data too small: 1 bytes");  // faults and summaries stay
  EXPECT_EQ(log.Lines().size(), 1u);
  log.Clear();
  SetLogLevel(LogLevel::Verbose);
  send(10);
  EXPECT_EQ(log.Count("Processing frame: type=0"), 10);
}

}  // namespace
}  // namespace orrin
