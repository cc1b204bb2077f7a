#include "media/picture_pacing.h"
#include "media/picture_slot.h"

#include <gtest/gtest.h>

namespace orrin {
namespace {

constexpr int64_t MS = 1'000'000;

TEST(RepaintPacer, APictureStoredTooSoonIsRepaintedAtTheMarkNotRefused) {
  RepaintPacer pacer(33 * MS);
  EXPECT_EQ(pacer.PictureStored(0), 0);
  pacer.RepaintTaken();
  EXPECT_EQ(pacer.PictureStored(32 * MS), 33 * MS);  // deferred by 1 ms
  pacer.RepaintTaken();
  EXPECT_EQ(pacer.PictureStored(32 * MS + 33 * MS + 500'000), 66 * MS);  // half a ms short: still shown
  pacer.RepaintTaken();
  EXPECT_EQ(pacer.PictureStored(200 * MS), 200 * MS);  // late enough: at once
}

TEST(RepaintPacer, TheNewestPictureRidesOnTheRequestNotYetTaken) {
  RepaintPacer pacer(33 * MS);
  EXPECT_EQ(pacer.PictureStored(100 * MS), 100 * MS);
  // A burst, and a window that is slow to paint: no second request, however many pictures.
  for (int64_t t = 101; t < 400; t += 7) EXPECT_FALSE(pacer.PictureStored(t * MS).has_value()) << t;
  pacer.RepaintTaken();
  EXPECT_EQ(pacer.PictureStored(400 * MS), 400 * MS);
  // A burst whose paints keep up is spaced out, one interval apart.
  pacer.RepaintTaken();
  EXPECT_EQ(pacer.PictureStored(401 * MS), 433 * MS);
  pacer.RepaintTaken();
  EXPECT_EQ(pacer.PictureStored(402 * MS), 435 * MS);  // never more than an interval ahead
  // A new sender's pacer remembers nothing of the last one.
  RepaintPacer next(33 * MS);
  EXPECT_EQ(next.PictureStored(403 * MS), 403 * MS);
}

TEST(IntakeGate, KeepsAJitteryStreamAtItsRateAndHoldsAFasterOneToIt) {
  const int64_t period = 1'000'000'000 / 60;
  IntakeGate gate(period);
  // 60 per second, each up to 40 % of a period early or late.
  const int jitter[] = {0, -40, 35, -20, 40, -35, 10, 0, -40, 40};
  int kept = 0;
  for (int i = 0; i < 600; ++i) kept += gate.Accept(i * period + jitter[i % 10] * period / 100);
  EXPECT_EQ(kept, 600);

  // Twice as fast for a second: no more than the rate, plus one.
  gate = IntakeGate(period);  // a new sender's gate
  kept = 0;
  for (int i = 0; i < 120; ++i) kept += gate.Accept(i * period / 2);
  EXPECT_LE(kept, 61);
  EXPECT_GE(kept, 59);
}

}  // namespace
}  // namespace orrin

namespace orrin {
namespace {

std::unique_ptr<Picture> Tagged(int tag) {
  auto picture = std::make_unique<Picture>();
  picture->width = tag;
  return picture;
}

int Held(const PictureSlot& slot) {
  return slot.Read([](const Picture* picture, uint64_t) { return picture != nullptr ? picture->width : 0; });
}

// Waiting pictures come forward when their time comes, the newest due one wins, a full
// queue lets its oldest go, and a replacement (the sender left) takes the waiting ones too.
TEST(PictureSlotTest, WaitingPicturesComeForwardInTurnAndTheNewestDueWins) {
  PictureSlot slot;
  slot.Replace(Tagged(1));
  slot.Queue(Tagged(2), 100, 0);
  slot.Queue(Tagged(3), 90, 0);  // never ahead of one queued before it
  slot.Queue(Tagged(4), 150, 0);
  EXPECT_EQ(slot.ShowDue(50), std::optional<int64_t>(100));
  EXPECT_EQ(Held(slot), 1);
  EXPECT_EQ(slot.ShowDue(120), std::optional<int64_t>(150));
  EXPECT_EQ(Held(slot), 3);
  EXPECT_EQ(slot.ShowDue(150), std::nullopt);
  EXPECT_EQ(Held(slot), 4);
  EXPECT_FALSE(slot.Waits());

  for (int i = 0; i < 6; ++i) slot.Queue(Tagged(10 + i), 200 + i, 0);
  EXPECT_EQ(slot.ShowDue(0), std::optional<int64_t>(202));  // 10 and 11 were pushed out
  slot.Queue(Tagged(20), 400, 300);  // nobody painted: the due ones came forward meanwhile
  EXPECT_EQ(Held(slot), 15);
  EXPECT_EQ(slot.ShowDue(0), std::optional<int64_t>(400));
  slot.Replace(nullptr);
  EXPECT_FALSE(slot.Waits());
  EXPECT_EQ(slot.ShowDue(1000), std::nullopt);
  EXPECT_EQ(Held(slot), 0);
}

}  // namespace
}  // namespace orrin
