// When a silent sender is pinged, when the quiet line is written, and when it is let go.
#include <gtest/gtest.h>

#include <vector>

#include "net/websocket/sender_liveness.h"
#include "support/tick.h"

namespace orrin {
namespace {

using Due = SenderLiveness::Due;

// Every action due from `from` to `to` ms, polling as a socket loop would (at WaitMs steps).
std::vector<std::pair<uint32_t, Due>> DueBetween(SenderLiveness& l, uint32_t from, uint32_t to) {
  std::vector<std::pair<uint32_t, Due>> seen;
  for (uint32_t now = from; TicksBetween(from, now) <= TicksBetween(from, to);) {
    for (Due due; (due = l.Next(now)) != Due::Nothing;) {
      seen.emplace_back(now, due);
      if (due == Due::LetGo) return seen;
    }
    now += l.WaitMs(now);
  }
  return seen;
}

TEST(SenderLiveness, AGoneSenderIsPingedThenLetGoAtTheLimit) {
  const uint32_t start = 0xFFFFF000u;  // across the tick's wrap
  SenderLiveness l({3000, 2000, 10000, 30000}, start);
  auto seen = DueBetween(l, start, start + 20000);
  std::vector<std::pair<uint32_t, Due>> expected = {
      {start + 3000, Due::Ping}, {start + 5000, Due::Ping}, {start + 7000, Due::Ping},
      {start + 9000, Due::Ping}, {start + 10000, Due::LetGo}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(l.SilentFor(start + 10000), 10000u);
}

TEST(SenderLiveness, AnIdleSenderThatAnswersStaysAndGetsTheQuietLine) {
  SenderLiveness l({3000, 2000, 10000, 30000}, 0);
  std::vector<std::pair<uint32_t, Due>> lines;
  for (uint32_t now = 0; now <= 3'600'000; now += 100) {  // an hour, each ping answered
    for (Due due; (due = l.Next(now)) != Due::Nothing;) {
      ASSERT_NE(due, Due::LetGo) << now;
      if (due == Due::Ping) l.Heard(now);  // the pong
      if (due == Due::QuietLine) lines.emplace_back(now, due);
    }
  }
  ASSERT_EQ(lines.size(), 120u);  // one every 30 s: pongs keep it there, not talking
  EXPECT_EQ(lines[0].first, 30000u);
}

TEST(SenderLiveness, FramesKeepItQuietAndWaitsNeverOverrunADeadline) {
  SenderLiveness l({3000, 2000, 10000, 30000}, 0);
  for (uint32_t now = 0; now < 60000; now += 33) {
    l.Spoke(now);
    EXPECT_EQ(l.Next(now), Due::Nothing);
    EXPECT_EQ(l.WaitMs(now), 3000u);
  }
  // Silent from 59994: the first ping is due at 62994, and the wait says so.
  EXPECT_EQ(l.WaitMs(61000), 1994u);
  EXPECT_EQ(l.Next(62993), Due::Nothing);
  EXPECT_EQ(l.Next(62994), Due::Ping);
  EXPECT_EQ(l.WaitMs(62994), 2000u);
  EXPECT_EQ(l.WaitMs(80000), 1u);  // overdue: look again at once
}

}  // namespace
}  // namespace orrin
