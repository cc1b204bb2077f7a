#include "media/cast_session.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_maker.h"
#include "media/cast_stats.h"
#include "media/decode_scale.h"
#include "media/display_state.h"
#include "support/tick.h"
#include "test_support/log_capture.h"

namespace orrin {
namespace {

using test::LogCapture;

std::atomic<uint32_t> fakeNow{0};
uint32_t FakeTick() { return fakeNow.load(); }

// A screen that writes down everything a session tells it, in order.
class RecordingScreen {
 public:
  ScreenSink Sink() {
    ScreenSink sink;
    sink.connected = [this](CastSession& session) { Add("connected:" + session.clientInfo()); };
    sink.pictureStored = [this](CastSession&, int64_t dueNs) {
      Add("repaint");
      std::lock_guard<std::mutex> lock(mutex_);
      dueMs_.push_back(dueNs / 1'000'000);
    };
    sink.screenOn = [this](CastSession&) { Add("screenOn"); };
    sink.disconnected = [this](CastSession&) { Add("disconnected"); };
    return sink;
  }
  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : Calls()) n += c == call;
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    dueMs_.clear();
  }
  // When each picture repaint was asked for (fake-clock milliseconds).
  std::vector<int64_t> DueMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dueMs_;
  }

 private:
  void Add(std::string call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<int64_t> dueMs_;
};

const char* const ACCEPTED = "Successfully created HBITMAP";
const char* const FIRST_PICTURE_HINT = "收到第一帧投屏画面，按F11进入全屏模式";

class CastSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 100000;
    SetTickSource(&FakeTick);
  }
  void TearDown() override { SetTickSource(nullptr); }

  // A sender of `on`, its events going to `screen` (or nowhere: no window).
  std::shared_ptr<CastSession> Open(CastRun& on, const std::string& clientInfo = "10.0.0.2:5000",
                                    bool shown = true) {
    return std::make_shared<CastSession>(clientInfo, on, shown ? screen.Sink() : ScreenSink{},
                                         std::vector<CastSink>{});
  }
  void FrameAt(uint32_t tick, const ByteBuffer& data, CastSession& to) {
    fakeNow = tick;
    to.OnVideoFrame(data);
  }
  void FrameAt(uint32_t tick, const ByteBuffer& data) { FrameAt(tick, data, *session); }
  static int CurrentWidth(const CastSession& of) {
    return of.picture().Read([](const Picture* picture, uint64_t) { return picture ? picture->width : 0; });
  }
  int CurrentWidth() const { return CurrentWidth(*session); }
  uint64_t Generation() const {
    return session->picture().Read([](const Picture*, uint64_t generation) { return generation; });
  }
  // True when the session's last sign of life (its start or an accepted picture) was at
  // `tick`: the screen is still on 3 s after it and off a millisecond later. Needs a started
  // session with its screen on, and turns the screen off to find out.
  static bool LastPictureAt(CastSession& of, uint32_t tick) {
    return !of.CheckScreen(tick + SCREEN_OFF_TIMEOUT_MS) && of.CheckScreen(tick + SCREEN_OFF_TIMEOUT_MS + 1);
  }

  static inline const ByteBuffer small = test::CompressJpeg(test::MakeTestImage(32, 24, 1), TJSAMP_420, 80);
  static inline const ByteBuffer wide = test::CompressJpeg(test::MakeTestImage(48, 24, 2), TJSAMP_420, 80);
  static inline const ByteBuffer broken = {0xFF, 0xD8, 0, 0, 0, 0, 0, 0, 0, 0};
  LogCapture log;
  CastStats stats;
  CastRun run{{}, stats};
  RecordingScreen screen;
  std::shared_ptr<CastSession> session = Open(run);
};

TEST_F(CastSessionTest, FramesCloserThan20msAreDroppedUnseen) {
  session->Start();
  FrameAt(100000, small);
  ASSERT_EQ(CurrentWidth(), 32);
  log.Clear();

  FrameAt(100010, wide);  // 10 ms later
  EXPECT_EQ(CurrentWidth(), 32);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_TRUE(LastPictureAt(*session, 100000));

  FrameAt(100019, wide);
  EXPECT_EQ(CurrentWidth(), 32);

  FrameAt(100020, wide);  // exactly 20 ms after the last accepted one
  EXPECT_EQ(CurrentWidth(), 48);
  EXPECT_TRUE(LastPictureAt(*session, 100020));
}

TEST_F(CastSessionTest, EveryThirtiethAcceptedFrameIsLogged) {
  uint32_t t = 100000;
  for (int accepted = 1; accepted <= 60; ++accepted) {
    FrameAt(t, small);
    FrameAt(t + 5, small);  // dropped: does not count
    if (accepted == 29) {
      EXPECT_EQ(log.Count("OnVideoFrame called with"), 0);
    }
    t += 20;
  }
  EXPECT_EQ(log.Count(ACCEPTED), 60);
  const std::string size = std::to_string(small.size());
  EXPECT_EQ(log.Count("OnVideoFrame called with"), 2);
  EXPECT_EQ(log.Count("OnVideoFrame called with " + size + " bytes (frame #30)"), 1);
  EXPECT_EQ(log.Count("OnVideoFrame called with " + size + " bytes (frame #60)"), 1);
}

TEST_F(CastSessionTest, TheFrameCountRunsOnFromOneSenderToTheNext) {
  for (uint32_t t = 100000; t < 100000 + 20 * 20; t += 20) FrameAt(t, small);
  auto next = Open(run, "10.0.0.3:5000");
  for (uint32_t t = 200000; t < 200000 + 10 * 20; t += 20) FrameAt(t, small, *next);
  EXPECT_EQ(log.Count("OnVideoFrame called with " + std::to_string(small.size()) + " bytes (frame #30)"), 1);
}

TEST_F(CastSessionTest, ThrottleSurvivesTheTickWrap) {
  FrameAt(0xFFFFFFF0u, small);
  EXPECT_EQ(screen.Count("repaint"), 1);
  FrameAt(0xFFFFFFFAu, wide);  // 10 ms later
  EXPECT_EQ(CurrentWidth(), 32);
  FrameAt(0x00000004u, wide);  // 20 ms later, across the wrap
  EXPECT_EQ(CurrentWidth(), 48);
  FrameAt(0x00000017u, small);  // 19 ms after the last accepted one
  EXPECT_EQ(CurrentWidth(), 48);
  FrameAt(0x00000018u, small);
  EXPECT_EQ(CurrentWidth(), 32);
}

TEST_F(CastSessionTest, APictureStoredTooSoonIsRepaintedAtThe33msMark) {
  uint64_t generation = Generation();
  // Every frame passes the 20 ms intake. The window paints when a request falls due; a
  // picture stored before that rides on the request (the paint shows the newest).
  const uint32_t ticks[] = {100000, 100032, 100052, 100085, 100105, 100125, 100150};
  int64_t due = -1;
  for (size_t i = 0; i < std::size(ticks); ++i) {
    if (due >= 0 && due <= ticks[i]) session->RepaintTaken();
    FrameAt(ticks[i], i % 2 ? wide : small);
    EXPECT_EQ(Generation(), ++generation);  // every accepted picture is stored
    if (!screen.DueMs().empty()) due = screen.DueMs().back();
  }
  EXPECT_EQ(screen.DueMs(), (std::vector<int64_t>{100000, 100033, 100066, 100099, 100132, 100165}));
  EXPECT_EQ(screen.Count("repaint"), 6);  // the picture of 100125 is shown by the paint at 100132

  // A window that has not painted yet gets no second request, however long it takes: the
  // paint it does shows the newest picture.
  screen.Clear();
  session->RepaintTaken();
  for (uint32_t t = 200000; t < 200500; t += 50) FrameAt(t, t % 100 ? wide : small);
  EXPECT_EQ(screen.Count("repaint"), 1);
  session->RepaintTaken();
  FrameAt(200500, small);
  EXPECT_EQ(screen.DueMs(), (std::vector<int64_t>{200000, 200500}));
  EXPECT_EQ(screen.Calls(), (std::vector<std::string>{"repaint", "repaint"}));  // nothing but pictures
}

TEST_F(CastSessionTest, WithMaxFpsSixtyAJitteryStreamIsTakenInAndRepaintedAtSixty) {
  CastRun sixty({60, true}, stats);
  auto fast = Open(sixty);
  // 16-17 ms apart, some 5 ms early: the default 20 ms throttle would drop every other one.
  const uint32_t ticks[] = {300000, 300017, 300033, 300045, 300067, 300083, 300100};
  int64_t due = -1;
  for (uint32_t t : ticks) {
    if (due >= 0 && due <= t) fast->RepaintTaken();
    FrameAt(t, small, *fast);
    due = screen.DueMs().back();
  }
  EXPECT_EQ(screen.Count("repaint"), 7);
  EXPECT_EQ(screen.DueMs()[3], 300050);  // 300045 came early: repainted a period after the last
  // A run without the setting keeps to 20 ms: 10 ms after the last is dropped.
  FrameAt(300100, small);
  EXPECT_EQ(screen.Count("repaint"), 8);
  FrameAt(300110, small);
  EXPECT_EQ(screen.Count("repaint"), 8);
}

TEST_F(CastSessionTest, WithDecodingOffFramesAreCountedButNeverDecoded) {
  stats.Enable(true);
  CastRun countOnly({0, false}, stats);
  auto counted = Open(countOnly);
  FrameAt(100000, small, *counted);
  FrameAt(100001, wide, *counted);  // no throttle either: the frame reader is measured alone
  EXPECT_EQ(CurrentWidth(*counted), 0);
  EXPECT_EQ(log.Count(ACCEPTED), 0);
  StatsSnapshot whole = stats.WholeRun();
  EXPECT_EQ(whole.received, 2u);
  EXPECT_EQ(whole.receivedBytes, small.size() + wide.size());
  EXPECT_EQ(whole.decoded, 0u);
  EXPECT_EQ(whole.dropped, 0u);

  FrameAt(100040, small);  // the default run decodes
  EXPECT_EQ(CurrentWidth(), 32);
}

TEST_F(CastSessionTest, StatisticsCountThrottleDropsAndTimeDecodes) {
  stats.Enable(true);
  FrameAt(100000, small);
  FrameAt(100005, wide);  // dropped by the throttle
  FrameAt(100010, wide);  // dropped
  FrameAt(100020, wide);
  StatsSnapshot whole = stats.WholeRun();
  EXPECT_EQ(whole.received, 4u);
  EXPECT_EQ(whole.dropped, 2u);
  EXPECT_EQ(whole.decoded, 2u);
  EXPECT_EQ(whole.decode.count, 2u);
  EXPECT_GT(whole.decode.p50, 0.0);
  session->picture().Read([](const Picture* picture, uint64_t) {
    ASSERT_NE(picture, nullptr);
    EXPECT_GT(picture->receivedNs, 0);  // the window measures the delay from here
  });
  stats.Enable(false);
  FrameAt(100040, small);  // statistics off: nothing counted, nothing stamped
  EXPECT_EQ(stats.WholeRun().received, 4u);
  session->picture().Read([](const Picture* picture, uint64_t) {
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->receivedNs, 0);
  });
}

TEST_F(CastSessionTest, PicturesAreDecodedForTheAreaTheWindowSet) {
  const ByteBuffer tall = test::CompressJpeg(test::MakeTestImage(400, 800, 3), TJSAMP_420, 80);
  session->SetDrawArea(DrawArea{300, 200, false});  // drawn 100x200: a quarter covers it
  FrameAt(100000, tall);
  EXPECT_EQ(CurrentWidth(), 100);
  session->SetDrawArea(DrawArea{1200, 800, false});  // drawn 400x800: full size
  FrameAt(100020, tall);
  EXPECT_EQ(CurrentWidth(), 400);
  session->SetDrawArea(DrawArea{});  // nothing known: full size
  FrameAt(100040, tall);
  EXPECT_EQ(CurrentWidth(), 400);
}

TEST_F(CastSessionTest, TheScreenIsOffAfterThreeSecondsWithoutAPicture) {
  session->Start();
  FrameAt(100000, small);
  EXPECT_FALSE(session->CheckScreen(100000 + SCREEN_OFF_TIMEOUT_MS));  // exactly 3 s: still on
  EXPECT_TRUE(session->CheckScreen(100000 + SCREEN_OFF_TIMEOUT_MS + 1));
  EXPECT_FALSE(session->screenActive());
  EXPECT_FALSE(session->CheckScreen(110000));  // turned off once
  EXPECT_EQ(ChooseDisplayMode(session->picture().Holds(), session->connected(), session->screenActive()),
            DisplayMode::ScreenOff);
  session->End();
  EXPECT_FALSE(session->CheckScreen(200000));  // ended: no screen to turn off
}

TEST_F(CastSessionTest, AFrameEndsScreenOffEvenWhenItFailsToDecode) {
  session->Start();
  FrameAt(100000, small);
  ASSERT_TRUE(session->CheckScreen(100000 + SCREEN_OFF_TIMEOUT_MS + 1));  // the window's check after 3 s
  screen.Clear();
  log.Clear();

  FrameAt(104000, broken);

  EXPECT_TRUE(session->screenActive());
  EXPECT_FALSE(session->CheckScreen(104000 + SCREEN_OFF_TIMEOUT_MS));  // the 3 s start again at 104000
  EXPECT_EQ(CurrentWidth(), 32);  // the previous picture stays
  EXPECT_EQ(screen.Calls(), std::vector<std::string>{"screenOn"});
  int screenOn = log.IndexOf("投屏设备屏幕已点亮，恢复显示");
  int failed = log.IndexOf("Failed to create bitmap from JPEG data");
  ASSERT_GE(screenOn, 0);
  ASSERT_GE(failed, 0);
  EXPECT_LT(screenOn, failed);
  EXPECT_TRUE(log.Lines()[static_cast<size_t>(failed)].isError);

  FrameAt(104020, small);  // already active: no second screen-on
  EXPECT_EQ(screen.Count("screenOn"), 1);
  EXPECT_EQ(log.Count("投屏设备屏幕已点亮"), 1);
}

TEST_F(CastSessionTest, StartSetsTheFlagsAndTellsTheScreen) {
  auto sender = Open(run, "192.168.1.5:40000");
  FrameAt(100000, small, *sender);
  screen.Clear();
  fakeNow = 200000;

  sender->Start();

  EXPECT_TRUE(sender->connected());
  EXPECT_TRUE(sender->screenActive());
  EXPECT_EQ(CurrentWidth(*sender), 32);  // starting does not touch the picture
  EXPECT_EQ(screen.Calls(), (std::vector<std::string>{"connected:192.168.1.5:40000"}));
  EXPECT_TRUE(LastPictureAt(*sender, 200000));

  // The address goes to the screen as the server gave it; the window makes it fit to show.
  screen.Clear();
  Open(run, "")->Start();
  EXPECT_EQ(screen.Calls().at(0), "connected:");
  screen.Clear();
  Open(run, std::string("bad\xC3", 4))->Start();
  EXPECT_EQ(screen.Calls().at(0), std::string("connected:bad\xC3", 14));
}

TEST_F(CastSessionTest, EndClearsThePictureAndTellsTheScreen) {
  session->Start();
  FrameAt(100000, small);
  uint64_t generation = Generation();
  screen.Clear();

  session->End();

  EXPECT_FALSE(session->connected());
  EXPECT_FALSE(session->screenActive());
  EXPECT_EQ(CurrentWidth(), 0);
  EXPECT_EQ(Generation(), generation + 1);
  EXPECT_EQ(screen.Calls(), (std::vector<std::string>{"disconnected"}));
}

TEST_F(CastSessionTest, WithoutAWindowOnlyTheStateChanges) {
  auto unseen = Open(run, "10.0.0.2:5000", false);
  FrameAt(100000, small, *unseen);  // pictures are stored with no window to show them
  EXPECT_EQ(CurrentWidth(*unseen), 32);
  log.Clear();
  fakeNow = 300000;

  unseen->Start();
  EXPECT_TRUE(unseen->connected());
  EXPECT_TRUE(unseen->screenActive());
  EXPECT_EQ(CurrentWidth(*unseen), 32);
  EXPECT_TRUE(LastPictureAt(*unseen, 300000));

  unseen->End();
  EXPECT_FALSE(unseen->connected());
  EXPECT_FALSE(unseen->screenActive());
  // The sender's last picture goes with its connection, window or not: otherwise it would
  // stay in memory while nobody casts.
  EXPECT_EQ(CurrentWidth(*unseen), 0);
  EXPECT_TRUE(log.Lines().empty());

  // A sender that comes once the window exists is shown from its start and its first
  // picture asks for the window's first repaint.
  auto seen = Open(run, "10.0.0.3:5000");
  seen->Start();
  FrameAt(300020, wide, *seen);
  EXPECT_EQ(screen.Calls(), (std::vector<std::string>{"connected:10.0.0.3:5000", "repaint"}));
}

TEST_F(CastSessionTest, FirstFrameHintOncePerRun) {
  session->Start();
  FrameAt(100000, broken);  // a picture that does not decode is not the first frame
  EXPECT_EQ(log.Count(FIRST_PICTURE_HINT), 0);
  FrameAt(100020, small);
  FrameAt(100040, small);
  EXPECT_EQ(log.Count(FIRST_PICTURE_HINT), 1);

  session->End();
  auto next = Open(run, "10.0.0.3:5000");
  next->Start();
  EXPECT_EQ(ChooseDisplayMode(CurrentWidth(*next) != 0, next->connected(), next->screenActive()),
            DisplayMode::ConnectedWaiting);
  FrameAt(100060, wide, *next);
  EXPECT_EQ(CurrentWidth(*next), 48);
  EXPECT_EQ(log.Count(FIRST_PICTURE_HINT), 1);
}

TEST_F(CastSessionTest, SinksHearTheSenderFromStartToEnd) {
  std::vector<std::string> heard;
  CastSink sink;
  sink.started = [&](CastSession& of) { heard.push_back("started:" + of.clientInfo()); };
  sink.picture = [&](CastSession&, const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs) {
    heard.push_back("picture:" + std::to_string(jpeg->size()));
    EXPECT_GT(receivedNs, 0);
  };
  sink.sound = [&](CastSession&, const ByteBuffer& pcm, int64_t) { heard.push_back("sound:" + std::to_string(pcm.size())); };
  sink.ended = [&](CastSession&) { heard.push_back("ended"); };
  // An empty sink is skipped.
  auto sender = std::make_shared<CastSession>("10.0.0.2:5000", run, ScreenSink{}, std::vector<CastSink>{sink, {}});
  sender->Start();
  FrameAt(100000, small, *sender);
  FrameAt(100005, wide, *sender);    // dropped: nobody hears of it
  FrameAt(100020, broken, *sender);  // does not decode: nobody hears of it
  sender->OnAudioFrame(ByteBuffer(640, 1));
  sender->End();
  EXPECT_EQ(heard, (std::vector<std::string>{"started:10.0.0.2:5000", "picture:" + std::to_string(small.size()),
                                             "sound:640", "ended"}));
}

// One sender after another stores pictures on the sender's thread while the main thread
// reads the picture the way the paint pass does, runs the screen check and takes repaints.
TEST_F(CastSessionTest, SenderAndWindowThreadsShareTheSessionSafely) {
  std::vector<std::shared_ptr<CastSession>> senders;
  for (int i = 0; i < 5; ++i) senders.push_back(Open(run, "10.0.0.2:" + std::to_string(5000 + i)));
  std::atomic<size_t> current{0};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    for (size_t s = 0; s < senders.size(); ++s) {
      current = s;
      senders[s]->Start();
      for (int i = 0; i < 30; ++i) {
        fakeNow.fetch_add(20);
        senders[s]->OnVideoFrame(i % 2 ? small : wide);
      }
      senders[s]->End();
    }
    done = true;
  });
  while (!done) {
    CastSession& shown = *senders[current.load()];
    shown.SetDrawArea(DrawArea{1200, 800, false});
    shown.CheckScreen(Tick());
    shown.RepaintTaken();
    shown.picture().Read([](const Picture* picture, uint64_t) {
      if (picture == nullptr) return;
      // Touch the whole picture, as an upload would.
      EXPECT_TRUE(picture->width == 32 || picture->width == 48);
      unsigned sum = 0;
      for (uint8_t byte : picture->data) sum += byte;
      EXPECT_GT(sum, 0u);
    });
  }
  sender.join();
  EXPECT_EQ(log.Count(ACCEPTED), 150);
}

}  // namespace
}  // namespace orrin
