#include "media/jitter_buffer.h"

#include <gtest/gtest.h>

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
  for (int i = 0; i < 3; ++i) {
    f = ramp.Frame();
    buffer.Push(f.data(), f.size());
  }
  ear.Pull(buffer);
  EXPECT_TRUE(buffer.Playing());
  // A sender that stops short of the threshold is played out all the same.
  while (buffer.Queued() > 0) ear.Pull(buffer);
  f = ramp.Frame(100);
  buffer.Push(f.data(), f.size());
  for (int i = 0; i < 8; ++i) ear.Pull(buffer);
  EXPECT_EQ(buffer.Queued(), 0u);
  EXPECT_EQ(ear.heard.size(), 8 * FRAME + 100);
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
