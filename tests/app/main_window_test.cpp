#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/services.h"
#include "app/window_placement.h"
#include "sdl_test_env.h"
#include "support/tick.h"
#include "test_support/log_capture.h"

namespace orrin {
namespace {

using test::SolidRgbPicture;
using test::StorePicture;

// The real window on SDL's offscreen video driver, driven through its event handling.
class MainWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { test::StartOffscreenSdl(); }
  static void TearDownTestSuite() { test::StopOffscreenSdl(); }
  void SetUp() override {
    ResetDisplayStateForTesting();
    window_ = std::make_unique<MainWindow>(StopServices);
    ASSERT_TRUE(window_->Create());
  }
  void TearDown() override {
    window_.reset();
    ResetDisplayStateForTesting();
  }
  // Turns of the event loop until `done` holds (or five seconds pass): what other threads
  // queued arrives as events.
  template <typename Done>
  bool PumpUntil(Done done) {
    const uint32_t deadline = SDL_GetTicks() + 5000;
    while (!done() && SDL_GetTicks() < deadline) {
      SDL_Event event;
      if (SDL_WaitEventTimeout(&event, 20) == 1) window_->HandleEvent(event);
      if (window_->needsPaint()) window_->PaintNow();
    }
    return done();
  }
  static SDL_Event KeyDown(SDL_Keycode key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    return event;
  }
  std::string Title() const { return SDL_GetWindowTitle(window_->window()); }

  test::LogCapture log_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, CreatedAsTestWindowThenTitleCheckedBackToWaiting) {
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 等待连接...");
  EXPECT_EQ(log_.Count("成功加载自定义图标"), 1);
  EXPECT_EQ(log_.Count("SetWindowTextW result: 1"), 1);
  EXPECT_EQ(log_.Count("Retrieved title length: 24"), 1);  // UTF-16 units of the waiting title
  int w = 0;
  int h = 0;
  SDL_GetWindowSize(window_->window(), &w, &h);
  // 1200x800 where the display takes it; SDL's windowless display is 1024x768.
  SDL_Rect usable;
  ASSERT_TRUE(UsableArea(0, usable));
  EXPECT_EQ(w, std::min(1200, usable.w));
  EXPECT_EQ(h, std::min(800, usable.h));
  EXPECT_TRUE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_RESIZABLE);
}

TEST_F(MainWindowTest, F11NeedsASenderAndAPicture) {
  window_->HandleKey(SDLK_F11);  // nobody connected
  EXPECT_FALSE(isFullscreen);
  isConnected = true;
  window_->HandleKey(SDLK_F11);  // connected, no picture yet
  EXPECT_FALSE(isFullscreen);
  isConnected = false;
  StorePicture(SolidRgbPicture(16, 16, 1, 2, 3));
  window_->HandleKey(SDLK_F11);  // a picture left over, but no sender
  EXPECT_FALSE(isFullscreen);
  EXPECT_EQ(log_.Count("全屏模式"), 0);

  isConnected = true;
  window_->HandleEvent(KeyDown(SDLK_F11));
  EXPECT_TRUE(isFullscreen);
  EXPECT_TRUE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_FULLSCREEN_DESKTOP);
  EXPECT_EQ(log_.Count("进入全屏模式"), 1);
  // Held down, the key repeats and every repeat toggles.
  SDL_Event repeat = KeyDown(SDLK_F11);
  repeat.key.repeat = 1;
  window_->HandleEvent(repeat);
  EXPECT_FALSE(isFullscreen);
  EXPECT_EQ(log_.Count("退出全屏模式"), 1);
}

TEST_F(MainWindowTest, LeavingFullScreenGivesTheFixedWindowedGeometry) {
  isConnected = true;
  StorePicture(SolidRgbPicture(16, 16, 1, 2, 3));
  SDL_SetWindowSize(window_->window(), 1000, 700);
  SDL_SetWindowPosition(window_->window(), 300, 200);
  window_->HandleKey(SDLK_ESCAPE);  // windowed: nothing
  EXPECT_EQ(log_.Count("ESC退出全屏模式"), 0);
  int w = 0;
  int h = 0;
  SDL_GetWindowSize(window_->window(), &w, &h);
  EXPECT_EQ(w, 1000);

  window_->HandleKey(SDLK_F11);
  window_->HandleKey(SDLK_ESCAPE);
  EXPECT_FALSE(isFullscreen);
  EXPECT_FALSE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_FULLSCREEN);
  EXPECT_EQ(log_.Count("ESC退出全屏模式"), 1);
  int x = 0;
  int y = 0;
  SDL_GetWindowSize(window_->window(), &w, &h);
  SDL_GetWindowPosition(window_->window(), &x, &y);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 600);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 100);
}

TEST_F(MainWindowTest, ScreenCheckTurnsTheScreenOffOnceAfterMoreThanThreeSeconds) {
  window_->ScreenCheck(100000);  // no sender: nothing to check
  EXPECT_TRUE(isScreenActive);

  isConnected = true;
  lastFrameTime = 1000;
  window_->ScreenCheck(4000);  // exactly 3000 ms does not count
  EXPECT_TRUE(isScreenActive);
  window_->ScreenCheck(4001);
  EXPECT_FALSE(isScreenActive);
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 设备息屏");
  window_->ScreenCheck(9000);
  EXPECT_EQ(log_.Count("投屏设备可能已息屏，进入等待状态"), 1);

  // Across the tick counter's wrap only the real gap counts.
  isScreenActive = true;
  lastFrameTime = 0xFFFFFF00u;
  window_->ScreenCheck(0x00000100u);
  EXPECT_TRUE(isScreenActive);
  window_->ScreenCheck(0x00000C00u);
  EXPECT_FALSE(isScreenActive);
}

TEST_F(MainWindowTest, ScreenSaverIsHeldOffOnlyWhilePicturesShow) {
  // SDL_Init held it off (the test did not allow it); the window lets it go at once.
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  window_->PaintNow();  // waiting
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  isConnected = true;
  StorePicture(SolidRgbPicture(16, 16, 1, 2, 3));
  window_->PaintNow();
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  isScreenActive = false;  // the sender's screen went off: its last picture stays held
  window_->PaintNow();
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  isScreenActive = true;
  window_->PaintNow();
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  ResetDisplayStateForTesting();  // the sender left
  window_->PaintNow();
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());

  // --no-screensaver: held off from the start, whatever is shown.
  window_.reset();
  WindowOptions keepOn;
  keepOn.keepScreenOn = true;
  window_ = std::make_unique<MainWindow>(StopServices, keepOn);
  ASSERT_TRUE(window_->Create());
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  window_->PaintNow();
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  EXPECT_EQ(log_.Count("Screen saver held off for the whole run (--no-screensaver)"), 1);
}

TEST_F(MainWindowTest, TimerEventsRunTheScreenCheckOnTheMainThread) {
  static std::atomic<uint32_t> now{50000};
  SetTickSource([] { return now.load(); });
  isConnected = true;
  lastFrameTime = 10000;
  ASSERT_TRUE(window_->StartScreenCheckTimer());
  PumpUntil([] { return !isScreenActive; });
  SetTickSource(nullptr);
  EXPECT_FALSE(isScreenActive);
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 设备息屏");
}

TEST_F(MainWindowTest, WindowPortCallsFromOtherThreadsAreCarriedOutOnTheMainThread) {
  window_->InstallWindowPort();
  isConnected = true;
  StorePicture(SolidRgbPicture(16, 16, 1, 2, 3));
  window_->HandleKey(SDLK_F11);
  ASSERT_TRUE(isFullscreen);
  const int paintsBefore = window_->painter()->paintCount();
  std::thread sender([] {
    auto port = mainWindow();
    port->setTitle("Tavoli网投屏接受客户端 - 已连接: 127.0.0.1:5000");
    port->leaveFullscreen();
    port->requestRepaint(true);
  });
  sender.join();
  EXPECT_TRUE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_FULLSCREEN_DESKTOP);  // not yet
  EXPECT_TRUE(PumpUntil([&] { return !isFullscreen && window_->painter()->paintCount() > paintsBefore; }));
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 已连接: 127.0.0.1:5000");
  EXPECT_FALSE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_FULLSCREEN);
  EXPECT_GT(window_->painter()->paintCount(), paintsBefore);

  // Titles that are not valid UTF-8 still reach the window, with U+FFFD in place.
  std::thread([] { mainWindow()->setTitle("bad \xff title"); }).join();
  PumpUntil([&] { return Title() != "Tavoli网投屏接受客户端 - 已连接: 127.0.0.1:5000"; });
  EXPECT_EQ(Title(), "bad \xEF\xBF\xBD title");
}

TEST_F(MainWindowTest, APictureRepaintComesAtItsDueTimeWithoutAnotherEvent) {
  window_->InstallWindowPort();
  // Until the start-up events (and any left by earlier cases) are through.
  for (SDL_Event event; SDL_WaitEventTimeout(&event, 100) == 1;) window_->HandleEvent(event);
  if (window_->needsPaint()) window_->PaintNow();
  const int64_t now = TickNs();
  std::thread([now] {
    mainWindow()->requestRepaintAt(now + 60'000'000);
    mainWindow()->requestRepaintAt(now + 40'000'000);  // the earlier one wins
  }).join();
  const int before = window_->painter()->paintCount();
  int64_t paintedAt = 0;
  while (paintedAt == 0 && TickNs() - now < 5'000'000'000) {
    SDL_Event event;
    if (window_->WaitForEvent(event)) window_->HandleEvent(event);
    if (window_->PaintDue()) {
      paintedAt = TickNs();
      window_->PaintNow();
    }
  }
  EXPECT_GE(paintedAt - now, 40'000'000);
  EXPECT_EQ(window_->painter()->paintCount(), before + 1);
  EXPECT_FALSE(window_->pictureDue().has_value());
}

TEST_F(MainWindowTest, ErrorBoxBlocksItsCallerUntilDismissedWhileTheLoopRuns) {
  window_->InstallWindowPort();
  std::atomic<bool> returned{false};
  std::thread server([&] {
    mainWindow()->showErrorBox("错误", "Failed to bind socket: 98");
    returned = true;
    mainWindow()->setTitle("after the box");
  });
  const uint32_t deadline = SDL_GetTicks() + 5000;
  std::thread dismisser([&] {
    // Presses Enter until the caller is released, as a person would.
    while (!returned && SDL_GetTicks() < deadline) {
      SDL_Delay(50);
      SDL_Event key = KeyDown(SDLK_RETURN);
      SDL_PushEvent(&key);
    }
  });
  while (Title() != "after the box" && SDL_GetTicks() < deadline) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, 50) == 1) window_->HandleEvent(event);
  }
  server.join();
  dismisser.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(window_->panelCount(), 0u);
  EXPECT_EQ(Title(), "after the box");
}

TEST_F(MainWindowTest, ClosePathHidesStopsOnItsOwnThreadReleasesThePictureAndEnds) {
  window_.reset();
  std::thread::id stopThread;
  const auto mainThread = std::this_thread::get_id();
  auto window = std::make_unique<MainWindow>([&] {
    stopThread = std::this_thread::get_id();
    StopServices();
  });
  ASSERT_TRUE(window->Create());
  window->InstallWindowPort();
  StorePicture(SolidRgbPicture(16, 16, 1, 2, 3));
  window->ShowPanel(MessagePanel{"Tavoli投屏客户端", "info", false});  // open boxes do not hold it up
  std::thread closer([&] { window->RequestClose(); });
  const int exitCode = window->RunEventLoop();
  closer.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(window->closing());
  EXPECT_TRUE(SDL_GetWindowFlags(window->window()) & SDL_WINDOW_HIDDEN);
  EXPECT_NE(stopThread, std::thread::id());
  EXPECT_NE(stopThread, mainThread);
  std::lock_guard<std::mutex> lock(frameMutex);
  EXPECT_EQ(currentFrame, nullptr);
}

TEST_F(MainWindowTest, WindowCloseEventTakesTheSameClosePath) {
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = SDL_GetWindowID(window_->window());
  SDL_PushEvent(&close);
  EXPECT_EQ(window_->RunEventLoop(), 0);
  EXPECT_TRUE(window_->closing());
}

}  // namespace
}  // namespace orrin
