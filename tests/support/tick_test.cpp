#include <gtest/gtest.h>

#include <thread>

#include "support/tick.h"

namespace orrin {
namespace {

TEST(Tick, DifferencesSurviveTheWrap) {
  EXPECT_EQ(TicksBetween(100, 120), 20u);
  EXPECT_EQ(TicksBetween(0xFFFFFFF6u, 10), 20u);  // 10 ms before the wrap to 10 ms after it
  EXPECT_EQ(TicksBetween(5, 5), 0u);
}

uint32_t fakeNow = 0;
uint32_t FakeTick() { return fakeNow; }

TEST(Tick, SteadyClockAdvancesAndCanBeReplaced) {
  uint32_t a = Tick();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  uint32_t elapsed = TicksBetween(a, Tick());
  EXPECT_GE(elapsed, 25u);
  EXPECT_LT(elapsed, 5000u);

  SetTickSource(&FakeTick);
  fakeNow = 0xFFFFFFFFu;
  EXPECT_EQ(Tick(), 0xFFFFFFFFu);
  SetTickSource(nullptr);
  EXPECT_LT(TicksBetween(a, Tick()), 5000u);
}

}  // namespace
}  // namespace orrin
