#include "media/jitter_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace orrin {
namespace {

constexpr size_t FRAME = 320;   // 20 ms, as senders send it
constexpr size_t DEVICE = 256;  // what the device takes at a time

// A rising ramp that never contains 0 (silence) and wraps well inside int16.
struct Ramp {
  int next = 1;
  std::vector<int16_t> Frame(size_t count = FRAME) {
    std::vector<int16_t> f(count);
    for (int16_t& s : f) {
      s = static_cast<int16_t>(next);
      next = next % 30000 + 1;
    }
    return f;
  }
};

// Sound that came out (silence left out), checked to be in order and never repeated.
struct Listener {
  std::vector<int16_t> heard;
  size_t silentPulls = 0;
  void Pull(JitterBuffer& buffer) {
    int16_t out[DEVICE];
    buffer.Pull(out, DEVICE);
    bool silent = true;
    for (int16_t s : out) {
      if (s == 0) continue;
      silent = false;
      if (!heard.empty()) {
        const int step = s - heard.back();
        // Rising (a cut skips ahead) or the ramp's wrap; never back, never the same twice.
        EXPECT_TRUE(step > 0 || step < -20000) << heard.back() << " then " << s;
      }
      heard.push_back(s);
    }
    silentPulls += silent;
  }
};

TEST(JitterBuffer, StartsAtTheThresholdAndPlaysEverySampleOnceInOrder) {
  JitterBuffer buffer;
  Ramp ramp;
  Listener ear;
  for (int i = 0; i < 3; ++i) {  // 60 ms: not yet
    auto f = ramp.Frame();
    ASSERT_TRUE(buffer.Push(f.data(), f.size()));
    ear.Pull(buffer);
  }
  EXPECT_FALSE(buffer.Playing());
  EXPECT_TRUE(ear.heard.empty());
  auto f = ramp.Frame();
  buffer.Push(f.data(), f.size());  // 80 ms minus what the device took meanwhile: not yet either
  f = ramp.Frame();
  buffer.Push(f.data(), f.size());
  ear.Pull(buffer);
  EXPECT_TRUE(buffer.Playing());
  for (int i = 0; i < 20; ++i) ear.Pull(buffer);
  EXPECT_EQ(ear.heard.size(), 5 * FRAME);  // all of it, then the queue ran dry
  EXPECT_EQ(buffer.Underruns(), 1u);
  EXPECT_EQ(buffer.TrimmedSamples(), 0u);
}

TEST(JitterBuffer, AfterRunningDryItWaitsForTheThresholdAgain) {
  JitterBuffer buffer;
  Ramp ramp;
  Listener ear;
  for (int i = 0; i < 4; ++i) {
    auto f = ramp.Frame();
    buffer.Push(f.data(), f.size());
  }
  while (buffer.Queued() > 0) ear.Pull(buffer);
  ear.Pull(buffer);
  EXPECT_FALSE(buffer.Playing());
  auto f = ramp.Frame();
  buffer.Push(f.data(), f.size());
  ear.Pull(buffer);
  EXPECT_FALSE(buffer.Playing());  // 20 ms after an underrun is not enough to start again
  EXPECT_EQ(buffer.Queued(), FRAME);
  // The level rose by the dry spell (and a margin) to cover the next one like it.
  const size_t margin = JitterBuffer::Settings{}.raiseMarginSamples;
  EXPECT_GT(buffer.StartLevel(), 1120u + margin);
  EXPECT_LE(buffer.StartLevel(), 1120u + 2 * DEVICE + margin);
  while (buffer.Queued() < buffer.StartLevel() - DEVICE) {
    f = ramp.Frame();
    buffer.Push(f.data(), f.size());
  }
  ear.Pull(buffer);
  EXPECT_FALSE(buffer.Playing());
  f = ramp.Frame();
  buffer.Push(f.data(), f.size());
  ear.Pull(buffer);
  EXPECT_TRUE(buffer.Playing());
  // A sender that stops short of the threshold is played out all the same.
  while (buffer.Queued() > 0) ear.Pull(buffer);
  f = ramp.Frame(100);
  buffer.Push(f.data(), f.size());
  for (int i = 0; i < 20; ++i) ear.Pull(buffer);  // up to 300 ms: the level rose at each dry spell
  EXPECT_EQ(buffer.Queued(), 0u);
  EXPECT_EQ(ear.heard.size() + buffer.TrimmedSamples(), static_cast<size_t>(ramp.next - 1));
}

TEST(JitterBuffer, ASenderRunningFastIsHeldNearTheStartLevel) {
  // 2 % fast for a minute: without correction the queue would grow by 1.2 s and hit the cap.
  JitterBuffer buffer;
  Ramp ramp;
  Listener ear;
  double sent = 0, played = 0;
  size_t maxQueued = 0, pushedSamples = 0;
  for (int step = 0; step < 16000 * 60 / 64; ++step) {  // 4 ms steps
    sent += 64 * 1.02;
    while (sent >= FRAME) {
      auto f = ramp.Frame();
      ASSERT_TRUE(buffer.Push(f.data(), f.size()));
      pushedSamples += FRAME;
      sent -= FRAME;
    }
    played += 64;
    if (played >= DEVICE) {
      ear.Pull(buffer);
      played -= DEVICE;
    }
    if (buffer.Playing()) maxQueued = std::max(maxQueued, buffer.Queued());
  }
  EXPECT_LT(maxQueued, 2600u);  // 160 ms
  EXPECT_EQ(buffer.Underruns(), 0u);
  EXPECT_GT(buffer.TrimmedSamples(), 16000u * 60 * 15 / 1000);  // most of the excess was cut
  EXPECT_EQ(ear.heard.size() + buffer.TrimmedSamples() + buffer.Queued(), pushedSamples);
}

TEST(JitterBuffer, CutsGoWhereTheSoundIsQuiet) {
  JitterBuffer::Settings settings;
  settings.checkSamples = DEVICE;  // judge the low point after one pull
  JitterBuffer buffer(settings);
  // Loud noise with 6 ms of near-silence 4 ms in, then plenty queued behind it: the first pull
  // starts playing, judges the low point far above the start level and cuts at once.
  std::vector<int16_t> sound(4000);
  unsigned state = 7;
  for (size_t i = 0; i < sound.size(); ++i) {
    state = state * 1103515245u + 12345u;
    const bool quiet = i >= 64 && i < 160;
    sound[i] = static_cast<int16_t>(quiet ? 1 + (i % 2) : 8000 + static_cast<int>((state >> 16) % 8000));
  }
  buffer.Push(sound.data(), sound.size());
  int16_t out[DEVICE];
  buffer.Pull(out, DEVICE);
  ASSERT_GT(buffer.TrimmedSamples(), 0u);
  int quietHeard = 0;
  for (int16_t s : out) quietHeard += s < 100;
  EXPECT_EQ(quietHeard, static_cast<int>(96 - buffer.TrimmedSamples()));  // only quiet samples went
}

// A link that delivers 20 ms frames in time except for `stallMs` every 5 s (then all at
// once), for `seconds`, with the device taking 16 ms each 16 ms. Returns the buffer's
// underruns over the run and the largest queue seen.
struct LinkRun {
  uint64_t underruns = 0;
  size_t maxQueued = 0;
};
LinkRun PlayLink(JitterBuffer& buffer, Ramp& ramp, Listener& ear, int seconds, int stallMs) {
  LinkRun run;
  const uint64_t before = buffer.Underruns();
  size_t held = 0;
  for (int ms = 0; ms < seconds * 1000; ++ms) {
    const bool stalled = stallMs > 0 && ms % 5000 >= 2500 && ms % 5000 < 2500 + stallMs;
    if (ms % 20 == 0) ++held;
    while (!stalled && held > 0) {
      auto f = ramp.Frame();
      EXPECT_TRUE(buffer.Push(f.data(), f.size()));
      --held;
    }
    if (ms % 16 == 0) ear.Pull(buffer);
    run.maxQueued = std::max(run.maxQueued, buffer.Queued());
  }
  run.underruns = buffer.Underruns() - before;
  return run;
}

TEST(JitterBuffer, TheStartLevelRisesToCoverStallsAndComesDownOnASteadyLink) {
  JitterBuffer buffer;
  Ramp ramp;
  Listener ear;
  // 150 ms stalls every 5 s: the first costs a gap, the level then covers the rest.
  LinkRun stalls = PlayLink(buffer, ramp, ear, 30, 150);
  EXPECT_LE(stalls.underruns, 2u);
  EXPECT_GE(buffer.StartLevel(), 1120u + 80 * 16);
  EXPECT_LE(buffer.StartLevel(), 4800u);
  EXPECT_LE(stalls.maxQueued, 4800u + 2 * FRAME);
  // A fixed level would have run dry at every stall.
  JitterBuffer::Settings fixed;
  fixed.maxStartSamples = fixed.startSamples;
  JitterBuffer still(fixed);
  Ramp ramp2;
  Listener ear2;
  EXPECT_GE(PlayLink(still, ramp2, ear2, 30, 150).underruns, 5u);

  // The link calms down: within a minute level and delay are back near the start.
  LinkRun calm = PlayLink(buffer, ramp, ear, 60, 0);
  EXPECT_EQ(calm.underruns, 0u);
  EXPECT_LE(buffer.StartLevel(), 1120u + 480);
  EXPECT_LE(buffer.Queued(), 1120u + 480 + 2 * FRAME);
  EXPECT_GT(buffer.TrimmedSamples(), 0u);  // the delay came down by cuts, not by a gap
}

TEST(JitterBuffer, APauseIsNotAStallAndANewSenderStartsAfresh) {
  JitterBuffer buffer;
  Ramp ramp;
  Listener ear;
  PlayLink(buffer, ramp, ear, 2, 0);
  for (int i = 0; i < 100; ++i) ear.Pull(buffer);  // 1.6 s with nothing: the sender paused
  PlayLink(buffer, ramp, ear, 2, 0);
  EXPECT_EQ(buffer.StartLevel(), 1120u);
  PlayLink(buffer, ramp, ear, 6, 150);
  EXPECT_GT(buffer.StartLevel(), 1120u);
  buffer.Clear();
  EXPECT_EQ(buffer.StartLevel(), 1120u);
}

TEST(JitterBuffer, TheCapRefusesAFrameWholeButAnEmptyQueueTakesALongOne) {
  JitterBuffer buffer;
  std::vector<int16_t> second(16000, 5), frame(FRAME, 6);
  EXPECT_TRUE(buffer.Push(second.data(), second.size()));
  EXPECT_FALSE(buffer.Push(frame.data(), frame.size()));
  EXPECT_EQ(buffer.Queued(), 16000u);
  buffer.Clear();
  std::vector<int16_t> longOne(40000, 7);
  EXPECT_TRUE(buffer.Push(longOne.data(), longOne.size()));
  EXPECT_EQ(buffer.Queued(), 40000u);
}

}  // namespace
}  // namespace orrin
