#include "media/cast_stats.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

namespace orrin {
namespace {

TEST(CastStats, OffByDefaultAndThenNothingIsCounted) {
  CastStats stats;
  EXPECT_FALSE(stats.Enabled());
  stats.PictureReceived(1000);
  stats.PictureDropped();
  stats.PictureDecoded(5, 1);
  stats.PictureShown(1, 2, 9);
  const StatsSnapshot run = stats.WholeRun();
  EXPECT_EQ(run.received + run.dropped + run.decoded + run.shown, 0u);
  EXPECT_EQ(run.delay.count, 0u);
}

TEST(CastStats, IntervalsStartAfreshWhileTheRunAddsUp) {
  CastStats stats;
  stats.Enable(true);
  for (int i = 1; i <= 10; ++i) {
    stats.PictureReceived(100);
    stats.PictureDecoded(i, 2);
    stats.PictureShown(0.5, 1.0, 10.0 + i);
  }
  stats.PictureDropped();
  StatsSnapshot first = stats.TakeInterval();
  EXPECT_EQ(first.received, 10u);
  EXPECT_EQ(first.receivedBytes, 1000u);
  EXPECT_EQ(first.shown, 10u);
  EXPECT_EQ(first.dropped, 1u);
  EXPECT_EQ(first.lastScaleDenominator, 2);
  EXPECT_DOUBLE_EQ(first.decode.p50, 5);  // nearest rank: the 5th of 10
  EXPECT_DOUBLE_EQ(first.decode.p99, 10);
  EXPECT_DOUBLE_EQ(first.delay.p50, 15);

  stats.PictureReceived(100);
  StatsSnapshot second = stats.TakeInterval();
  EXPECT_EQ(second.received, 1u);
  EXPECT_EQ(second.shown, 0u);
  EXPECT_EQ(second.decode.count, 0u);
  EXPECT_EQ(second.lastScaleDenominator, 2);  // the scale holds until a decode changes it

  StatsSnapshot run = stats.WholeRun();
  EXPECT_EQ(run.received, 11u);
  EXPECT_EQ(run.delay.count, 10u);
  EXPECT_DOUBLE_EQ(run.delay.p99, 20);
}

TEST(CastStats, PercentilesByNearestRank) {
  std::vector<double> none;
  EXPECT_EQ(Percentile(none, 50), 0);
  std::vector<double> one{4};
  EXPECT_EQ(Percentile(one, 99), 4);
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  EXPECT_EQ(Percentile(hundred, 50), 50);
  EXPECT_EQ(Percentile(hundred, 99), 99);
  EXPECT_EQ(Percentile(hundred, 100), 100);
}

TEST(CastStats, TheLineAndTheSummaryReadAsDocumented) {
  StatsSnapshot s;
  s.received = 51;
  s.shown = 50;
  s.dropped = 1;
  s.lastScaleDenominator = 2;
  s.decode.p50 = 6.24;
  s.delay.p50 = 9.75;
  EXPECT_EQ(FormatStatsLine(s, 119.6),
            "stats: received 51, shown 50, dropped 1, decode p50 6.2 ms (scale 1/2), present delay p50 9.8 ms, "
            "audio queued 120 ms");
  s.receivedBytes = 123456;
  s.delay.p99 = 14.0;
  const std::string summary = FormatStatsSummary(s, 60.04);
  EXPECT_EQ(summary.rfind("stats summary: 60.0 s, received 51 (123456 bytes), shown 50, dropped 1, decode p50 6.2 p99", 0),
            0u)
      << summary;
  // The benchmark reads every timing back by this pattern.
  for (const char* name : {"decode", "upload", "draw", "delay"}) {
    EXPECT_TRUE(std::regex_search(summary, std::regex(std::string(", ") + name + " p50 [0-9.]+ p99 [0-9.]+ ms")))
        << name << " in " << summary;
  }
}

TEST(CastStats, GapsBetweenShownPicturesRestartWithEachCast) {
  CastStats stats;
  stats.Enable(true);
  stats.PictureShown(0, 0, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  stats.PictureShown(0, 0, 1);
  stats.PictureShown(0, 0, 1);
  StatsSnapshot first = stats.TakeInterval();
  EXPECT_GE(first.longestGapMs, 60);
  EXPECT_EQ(first.longGaps, 1u);
  // The pause before a new sender's first picture is not a stutter.
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  stats.CastStarted();
  stats.PictureShown(0, 0, 1);
  StatsSnapshot second = stats.TakeInterval();
  EXPECT_LT(second.longestGapMs, STATS_LONG_GAP_MS);
  EXPECT_EQ(second.longGaps, 0u);
  EXPECT_EQ(stats.WholeRun().longGaps, 1u);
  EXPECT_NE(FormatStatsSummary(stats.WholeRun(), 1).find(", gaps over 50 ms 1"), std::string::npos);
}

TEST(CastStats, HooksFromSeveralThreadsAllCount) {
  CastStats stats;
  stats.Enable(true);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&stats] {
      for (int i = 0; i < 1000; ++i) {
        stats.PictureReceived(1);
        stats.PictureShown(0, 0, 1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(stats.WholeRun().received, 4000u);
  EXPECT_EQ(stats.TakeInterval().shown, 4000u);
}

}  // namespace
}  // namespace orrin
