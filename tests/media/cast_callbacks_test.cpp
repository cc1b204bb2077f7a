#include "media/cast_callbacks.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <atomic>
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

// A window port that writes down every call, in order.
class RecordingWindow {
 public:
  RecordingWindow() : port_(std::make_shared<WindowPort>()) {
    port_->setTitle = [this](const std::string& title) { Add("title:" + title); };
    port_->requestRepaint = [this](bool erase) { Add(erase ? "repaint:erase" : "repaint"); };
    port_->requestRepaintAt = [this](int64_t dueNs) {
      Add("repaint");
      std::lock_guard<std::mutex> lock(mutex_);
      dueMs_.push_back(dueNs / 1'000'000);
    };
    port_->leaveFullscreen = [this] { Add("leaveFullscreen"); };
    port_->showErrorBox = [this](const std::string& caption, const std::string& text) {
      Add("errorBox:" + caption + "|" + text);
    };
  }
  void Install() { SetWindowPort(port_); }
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
  std::shared_ptr<WindowPort> port_;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<int64_t> dueMs_;
};

const char* const TITLE_SCREEN_ON = "title:Tavoli网投屏接受客户端 - 屏幕已点亮";
const char* const TITLE_WAITING = "title:Tavoli网投屏接受客户端 - 等待连接...";
const char* const ACCEPTED = "Successfully created HBITMAP";

class CastCallbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDisplayStateForTesting();
    ResetCastCallbacksForTesting();
    ResetCastStatsForTesting();
    PublishDrawArea(DrawArea{});
    fakeNow = 100000;
    SetTickSource(&FakeTick);
  }
  void TearDown() override {
    SetTickSource(nullptr);
    ResetDisplayStateForTesting();
  }
  void FrameAt(uint32_t tick, const ByteBuffer& data) {
    fakeNow = tick;
    OnVideoFrame(data);
  }
  static int CurrentWidth() {
    std::lock_guard<std::mutex> lock(frameMutex);
    return currentFrame ? currentFrame->width : 0;
  }
  static uint64_t Generation() {
    std::lock_guard<std::mutex> lock(frameMutex);
    return frameGeneration;
  }

  static inline const ByteBuffer small = test::CompressJpeg(test::MakeTestImage(32, 24, 1), TJSAMP_420, 80);
  static inline const ByteBuffer wide = test::CompressJpeg(test::MakeTestImage(48, 24, 2), TJSAMP_420, 80);
  static inline const ByteBuffer broken = {0xFF, 0xD8, 0, 0, 0, 0, 0, 0, 0, 0};
  LogCapture log;
  RecordingWindow window;
};

TEST_F(CastCallbacks, FramesCloserThan20msAreDroppedUnseen) {
  FrameAt(100000, small);
  ASSERT_EQ(CurrentWidth(), 32);
  log.Clear();

  FrameAt(100010, wide);  // 10 ms later
  EXPECT_EQ(CurrentWidth(), 32);
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(lastFrameTime, 100000u);

  FrameAt(100019, wide);
  EXPECT_EQ(CurrentWidth(), 32);

  FrameAt(100020, wide);  // exactly 20 ms after the last accepted one
  EXPECT_EQ(CurrentWidth(), 48);
  EXPECT_EQ(lastFrameTime, 100020u);
}

TEST_F(CastCallbacks, EveryThirtiethAcceptedFrameIsLogged) {
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

TEST_F(CastCallbacks, ThrottleSurvivesTheTickWrap) {
  window.Install();
  FrameAt(0xFFFFFFF0u, small);
  EXPECT_EQ(window.Count("repaint"), 1);
  FrameAt(0xFFFFFFFAu, wide);  // 10 ms later
  EXPECT_EQ(CurrentWidth(), 32);
  FrameAt(0x00000004u, wide);  // 20 ms later, across the wrap
  EXPECT_EQ(CurrentWidth(), 48);
  FrameAt(0x00000017u, small);  // 19 ms after the last accepted one
  EXPECT_EQ(CurrentWidth(), 48);
  FrameAt(0x00000018u, small);
  EXPECT_EQ(CurrentWidth(), 32);
}

TEST_F(CastCallbacks, APictureStoredTooSoonIsRepaintedAtThe33msMark) {
  window.Install();
  uint64_t generation = Generation();
  // Every frame passes the 20 ms intake. The window paints when a request falls due; a
  // picture stored before that rides on the request (the paint shows the newest).
  const uint32_t ticks[] = {100000, 100032, 100052, 100085, 100105, 100125, 100150};
  int64_t due = -1;
  for (size_t i = 0; i < std::size(ticks); ++i) {
    if (due >= 0 && due <= ticks[i]) RepaintTaken();
    FrameAt(ticks[i], i % 2 ? wide : small);
    EXPECT_EQ(Generation(), ++generation);  // every accepted picture is stored
    if (!window.DueMs().empty()) due = window.DueMs().back();
  }
  EXPECT_EQ(window.DueMs(), (std::vector<int64_t>{100000, 100033, 100066, 100099, 100132, 100165}));
  EXPECT_EQ(window.Count("repaint"), 6);  // the picture of 100125 is shown by the paint at 100132

  // A window that has not painted yet gets no second request, however long it takes: the
  // paint it does shows the newest picture.
  window.Clear();
  RepaintTaken();
  for (uint32_t t = 200000; t < 200500; t += 50) FrameAt(t, t % 100 ? wide : small);
  EXPECT_EQ(window.Count("repaint"), 1);
  RepaintTaken();
  FrameAt(200500, small);
  EXPECT_EQ(window.DueMs(), (std::vector<int64_t>{200000, 200500}));
  EXPECT_EQ(window.Count("repaint:erase"), 0);  // pictures cover the whole window
}

TEST_F(CastCallbacks, WithMaxFpsSixtyAJitteryStreamIsTakenInAndRepaintedAtSixty) {
  window.Install();
  SetMaxPictureRate(60);
  // 16-17 ms apart, some 5 ms early: the default 20 ms throttle would drop every other one.
  const uint32_t ticks[] = {300000, 300017, 300033, 300045, 300067, 300083, 300100};
  int64_t due = -1;
  for (uint32_t t : ticks) {
    if (due >= 0 && due <= t) RepaintTaken();
    FrameAt(t, small);
    due = window.DueMs().back();
  }
  EXPECT_EQ(window.Count("repaint"), 7);
  EXPECT_EQ(window.DueMs()[3], 300050);  // 300045 came early: repainted a period after the last
  SetMaxPictureRate(0);
  FrameAt(300110, small);  // back to 20 ms: 10 ms after the last is dropped
  EXPECT_EQ(window.Count("repaint"), 7);
}

TEST_F(CastCallbacks, WithDecodingOffFramesAreCountedButNeverDecoded) {
  EnableCastStats(true);
  SetPictureDecoding(false);
  FrameAt(100000, small);
  FrameAt(100001, wide);  // no throttle either: the frame reader is measured alone
  EXPECT_EQ(CurrentWidth(), 0);
  EXPECT_EQ(log.Count(ACCEPTED), 0);
  StatsSnapshot run = WholeRun();
  EXPECT_EQ(run.received, 2u);
  EXPECT_EQ(run.receivedBytes, small.size() + wide.size());
  EXPECT_EQ(run.decoded, 0u);
  EXPECT_EQ(run.dropped, 0u);

  SetPictureDecoding(true);
  FrameAt(100040, small);
  EXPECT_EQ(CurrentWidth(), 32);
  ResetCastStatsForTesting();
}

TEST_F(CastCallbacks, StatisticsCountThrottleDropsAndTimeDecodes) {
  EnableCastStats(true);
  FrameAt(100000, small);
  FrameAt(100005, wide);  // dropped by the throttle
  FrameAt(100010, wide);  // dropped
  FrameAt(100020, wide);
  StatsSnapshot run = WholeRun();
  EXPECT_EQ(run.received, 4u);
  EXPECT_EQ(run.dropped, 2u);
  EXPECT_EQ(run.decoded, 2u);
  EXPECT_EQ(run.decode.count, 2u);
  EXPECT_GT(run.decode.p50, 0.0);
  {
    std::lock_guard<std::mutex> lock(frameMutex);
    ASSERT_NE(currentFrame, nullptr);
    EXPECT_GT(currentFrame->receivedNs, 0);  // the window measures the delay from here
  }
  ResetCastStatsForTesting();
  FrameAt(100040, small);  // statistics off: nothing counted, nothing stamped
  EXPECT_EQ(WholeRun().received, 0u);
  std::lock_guard<std::mutex> lock(frameMutex);
  EXPECT_EQ(currentFrame->receivedNs, 0);
}

TEST_F(CastCallbacks, PicturesAreDecodedForTheAreaTheWindowPublished) {
  const ByteBuffer tall = test::CompressJpeg(test::MakeTestImage(400, 800, 3), TJSAMP_420, 80);
  PublishDrawArea(DrawArea{300, 200, false});  // drawn 100x200: a quarter covers it
  FrameAt(100000, tall);
  EXPECT_EQ(CurrentWidth(), 100);
  PublishDrawArea(DrawArea{1200, 800, false});  // drawn 400x800: full size
  FrameAt(100020, tall);
  EXPECT_EQ(CurrentWidth(), 400);
  PublishDrawArea(DrawArea{});
}

TEST_F(CastCallbacks, AFrameEndsScreenOffEvenWhenItFailsToDecode) {
  window.Install();
  OnConnectionChanged(true, "10.0.0.2:5000");
  FrameAt(100000, small);
  isScreenActive = false;  // what the window's screen check does after 3 s
  window.Clear();
  log.Clear();

  FrameAt(104000, broken);

  EXPECT_TRUE(isScreenActive);
  EXPECT_EQ(lastFrameTime, 104000u);
  EXPECT_EQ(CurrentWidth(), 32);  // the previous picture stays
  EXPECT_EQ(window.Calls(), std::vector<std::string>{TITLE_SCREEN_ON});
  int screenOn = log.IndexOf("投屏设备屏幕已点亮，恢复显示");
  int failed = log.IndexOf("Failed to create bitmap from JPEG data");
  ASSERT_GE(screenOn, 0);
  ASSERT_GE(failed, 0);
  EXPECT_LT(screenOn, failed);
  EXPECT_TRUE(log.Lines()[static_cast<size_t>(failed)].isError);

  FrameAt(104020, small);  // already active: no second title
  EXPECT_EQ(window.Count(TITLE_SCREEN_ON), 1);
  EXPECT_EQ(log.Count("投屏设备屏幕已点亮"), 1);
}

TEST_F(CastCallbacks, ConnectionWithAWindowSetsFlagsTitleAndRepaint) {
  window.Install();
  FrameAt(100000, small);
  isScreenActive = false;
  window.Clear();
  fakeNow = 200000;

  OnConnectionChanged(true, "192.168.1.5:40000");

  EXPECT_TRUE(isConnected);
  EXPECT_TRUE(isScreenActive);
  EXPECT_EQ(lastFrameTime, 200000u);
  EXPECT_EQ(CurrentWidth(), 32);  // a connection does not touch the picture
  EXPECT_EQ(window.Calls(),
            (std::vector<std::string>{"title:Tavoli网投屏接受客户端 - 已连接: 192.168.1.5:40000", "repaint:erase"}));
  EXPECT_EQ(log.Count("客户端已连接: 192.168.1.5:40000"), 1);

  window.Clear();
  OnConnectionChanged(true, "");
  EXPECT_EQ(window.Calls().at(0), "title:Tavoli网投屏接受客户端 - 已连接: ");
  window.Clear();
  OnConnectionChanged(true, std::string("bad\xC3", 4));  // not UTF-8: shown, not passed on raw
  EXPECT_EQ(window.Calls().at(0), "title:Tavoli网投屏接受客户端 - 已连接: bad\xEF\xBF\xBD");
}

TEST_F(CastCallbacks, DisconnectionClearsThePictureAndLeavesFullScreen) {
  window.Install();
  OnConnectionChanged(true, "10.0.0.2:5000");
  FrameAt(100000, small);
  isFullscreen = true;
  uint64_t generation = Generation();
  window.Clear();
  log.Clear();

  OnConnectionChanged(false, "");

  EXPECT_FALSE(isConnected);
  EXPECT_FALSE(isScreenActive);
  EXPECT_EQ(CurrentWidth(), 0);
  EXPECT_EQ(Generation(), generation + 1);
  EXPECT_EQ(window.Calls(), (std::vector<std::string>{"leaveFullscreen", TITLE_WAITING, "repaint:erase"}));
  EXPECT_EQ(log.Count("客户端已断开连接"), 1);

  // Windowed: no mode change.
  isFullscreen = false;
  OnConnectionChanged(true, "10.0.0.2:5001");
  window.Clear();
  OnConnectionChanged(false, "");
  EXPECT_EQ(window.Calls(), (std::vector<std::string>{TITLE_WAITING, "repaint:erase"}));
}

TEST_F(CastCallbacks, WithoutAWindowOnlyTheStateChanges) {
  FrameAt(100000, small);  // pictures are stored before the window exists
  EXPECT_EQ(CurrentWidth(), 32);
  log.Clear();
  fakeNow = 300000;

  OnConnectionChanged(true, "10.0.0.2:5000");
  EXPECT_TRUE(isConnected);
  EXPECT_TRUE(isScreenActive);
  EXPECT_EQ(lastFrameTime, 300000u);
  EXPECT_EQ(CurrentWidth(), 32);

  OnConnectionChanged(false, "");
  EXPECT_FALSE(isConnected);
  EXPECT_FALSE(isScreenActive);
  // The sender's last picture goes with its connection, window or not: otherwise the
  // next sender would be shown it.
  EXPECT_EQ(CurrentWidth(), 0);
  EXPECT_TRUE(log.Lines().empty());

  // Once the window exists, the next picture ends the screen-off state the disconnection
  // left and asks for the window's first repaint.
  window.Install();
  FrameAt(300020, wide);
  EXPECT_EQ(window.Calls(), (std::vector<std::string>{TITLE_SCREEN_ON, "repaint"}));
}

TEST_F(CastCallbacks, FirstFrameHintOncePerProcess) {
  window.Install();
  OnConnectionChanged(true, "10.0.0.2:5000");
  FrameAt(100000, broken);  // a picture that does not decode is not the first frame
  EXPECT_EQ(log.Count("收到第一帧投屏画面，按F11进入全屏模式"), 0);
  FrameAt(100020, small);
  FrameAt(100040, small);
  EXPECT_EQ(log.Count("收到第一帧投屏画面，按F11进入全屏模式"), 1);

  OnConnectionChanged(false, "");
  OnConnectionChanged(true, "10.0.0.3:5000");
  EXPECT_EQ(ChooseDisplayMode(CurrentWidth() != 0, isConnected, isScreenActive), DisplayMode::ConnectedWaiting);
  FrameAt(100060, wide);
  EXPECT_EQ(CurrentWidth(), 48);
  EXPECT_EQ(log.Count("收到第一帧投屏画面，按F11进入全屏模式"), 1);
}

TEST_F(CastCallbacks, ErrorIsLoggedAndShownOnceTheWindowExists) {
  OnError("Failed to start WebSocket server");
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_TRUE(log.Lines()[0].isError);
  EXPECT_EQ(log.Lines()[0].text, "Failed to start WebSocket server");

  window.Install();
  OnError("Failed to bind socket: 98");
  EXPECT_EQ(window.Calls(), std::vector<std::string>{"errorBox:错误|Failed to bind socket: 98"});
  EXPECT_EQ(log.Count("Failed to bind socket: 98"), 1);
}

// The sender's thread stores pictures while other threads connect, disconnect and read
// the picture the way the paint pass does.
TEST_F(CastCallbacks, SenderWindowAndConnectionThreadsShareTheStateSafely) {
  window.Install();
  std::atomic<bool> done{false};
  std::thread sender([&] {
    for (int i = 0; i < 150; ++i) {
      fakeNow.fetch_add(20);
      OnVideoFrame(i % 2 ? small : wide);
    }
    done = true;
  });
  std::thread connections([&] {
    while (!done) {
      OnConnectionChanged(true, "10.0.0.2:5000");
      OnConnectionChanged(false, "");
    }
  });
  while (!done) {
    std::lock_guard<std::mutex> lock(frameMutex);
    if (currentFrame != nullptr) {
      // Touch the whole picture, as an upload would.
      EXPECT_TRUE(currentFrame->width == 32 || currentFrame->width == 48);
      unsigned sum = 0;
      for (uint8_t byte : currentFrame->data) sum += byte;
      EXPECT_GT(sum, 0u);
    }
  }
  sender.join();
  connections.join();
  EXPECT_EQ(log.Count(ACCEPTED), 150);
}

}  // namespace
}  // namespace orrin
