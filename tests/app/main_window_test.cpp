#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/window_placement.h"
#include "sdl_test_env.h"
#include "support/tick.h"
#include "test_support/log_capture.h"

namespace orrin {
namespace {

using test::SolidRgbPicture;

// The real window on SDL's offscreen video driver, driven through its event handling.
class MainWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { test::StartOffscreenSdl(); }
  static void TearDownTestSuite() { test::StopOffscreenSdl(); }
  void SetUp() override {
    window_ = std::make_unique<MainWindow>([] {});
    ASSERT_TRUE(window_->Create());
  }
  void TearDown() override {
    window_.reset();
    SetTickSource(nullptr);
  }
  // A sender connected with a picture, shown in the window.
  std::shared_ptr<CastSession> ShowSenderWithPicture() {
    auto session = cast_.Session();
    session->Start();
    session->picture().Replace(SolidRgbPicture(16, 16, 1, 2, 3));
    window_->ShowSession(session);
    return session;
  }
  // A sender connected at tick `at` (its last sign of life), shown in the window.
  std::shared_ptr<CastSession> ShowSenderConnectedAt(uint32_t at) {
    static std::atomic<uint32_t> tick;
    tick = at;
    SetTickSource([] { return tick.load(); });
    auto session = cast_.Session();
    session->Start();
    SetTickSource(nullptr);
    window_->ShowSession(session);
    return session;
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
  test::TestCast cast_;
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
  EXPECT_FALSE(window_->fullscreen());
  auto sender = cast_.Session();
  sender->Start();
  window_->ShowSession(sender);
  window_->HandleKey(SDLK_F11);  // connected, no picture yet
  EXPECT_FALSE(window_->fullscreen());
  auto gone = cast_.Session();
  gone->picture().Replace(SolidRgbPicture(16, 16, 1, 2, 3));
  window_->ShowSession(gone);
  window_->HandleKey(SDLK_F11);  // a picture left over, but no sender
  EXPECT_FALSE(window_->fullscreen());
  EXPECT_EQ(log_.Count("全屏模式"), 0);

  sender->picture().Replace(SolidRgbPicture(16, 16, 1, 2, 3));
  window_->ShowSession(sender);
  window_->HandleEvent(KeyDown(SDLK_F11));
  EXPECT_TRUE(window_->fullscreen());
  EXPECT_TRUE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_FULLSCREEN_DESKTOP);
  EXPECT_EQ(log_.Count("进入全屏模式"), 1);
  // Held down, the key repeats and every repeat toggles.
  SDL_Event repeat = KeyDown(SDLK_F11);
  repeat.key.repeat = 1;
  window_->HandleEvent(repeat);
  EXPECT_FALSE(window_->fullscreen());
  EXPECT_EQ(log_.Count("退出全屏模式"), 1);
}

TEST_F(MainWindowTest, LeavingFullScreenGivesTheFixedWindowedGeometry) {
  auto sender = ShowSenderWithPicture();
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
  EXPECT_FALSE(window_->fullscreen());
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

  auto sender = ShowSenderConnectedAt(1000);
  window_->ScreenCheck(4000);  // exactly 3000 ms does not count
  EXPECT_TRUE(sender->screenActive());
  window_->ScreenCheck(4001);
  EXPECT_FALSE(sender->screenActive());
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 设备息屏");
  window_->ScreenCheck(9000);
  EXPECT_EQ(log_.Count("投屏设备可能已息屏，进入等待状态"), 1);

  // Across the tick counter's wrap only the real gap counts.
  auto next = ShowSenderConnectedAt(0xFFFFFF00u);
  window_->ScreenCheck(0x00000100u);
  EXPECT_TRUE(next->screenActive());
  window_->ScreenCheck(0x00000C00u);
  EXPECT_FALSE(next->screenActive());
}

TEST_F(MainWindowTest, ScreenSaverIsHeldOffOnlyWhilePicturesShow) {
  // SDL_Init held it off (the test did not allow it); the window lets it go at once.
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  window_->PaintNow();  // waiting
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  auto sender = ShowSenderConnectedAt(1000);
  sender->picture().Replace(SolidRgbPicture(16, 16, 1, 2, 3));
  window_->PaintNow();
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  window_->ScreenCheck(4001);  // the sender's screen went off: its last picture stays held
  window_->PaintNow();
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
  auto next = ShowSenderWithPicture();
  window_->PaintNow();
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  next->End();  // the sender left
  window_->SessionEnded(next.get());
  window_->PaintNow();
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());

  // --no-screensaver: held off from the start, whatever is shown.
  window_.reset();
  WindowOptions keepOn;
  keepOn.keepScreenOn = true;
  window_ = std::make_unique<MainWindow>([] {}, keepOn);
  ASSERT_TRUE(window_->Create());
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  window_->PaintNow();
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  EXPECT_EQ(log_.Count("Screen saver held off for the whole run (--no-screensaver)"), 1);
}

TEST_F(MainWindowTest, TimerEventsRunTheScreenCheckOnTheMainThread) {
  auto sender = ShowSenderConnectedAt(10000);
  static std::atomic<uint32_t> now{50000};
  SetTickSource([] { return now.load(); });
  ASSERT_TRUE(window_->StartScreenCheckTimer());
  PumpUntil([&] { return !sender->screenActive(); });
  SetTickSource(nullptr);
  EXPECT_FALSE(sender->screenActive());
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 设备息屏");
}

TEST_F(MainWindowTest, SessionNewsFromOtherThreadsIsCarriedOutOnTheMainThread) {
  auto first = ShowSenderWithPicture();
  window_->HandleKey(SDLK_F11);
  ASSERT_TRUE(window_->fullscreen());
  const int paintsBefore = window_->painter()->paintCount();
  auto next = cast_.Session("127.0.0.1:5000");
  std::thread sender([&] {
    window_->Post([&] { window_->SessionEnded(first.get()); });
    window_->Post([&] { window_->ShowSession(next); });
  });
  sender.join();
  EXPECT_TRUE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_FULLSCREEN_DESKTOP);  // not yet
  EXPECT_TRUE(PumpUntil([&] { return !window_->fullscreen() && window_->painter()->paintCount() > paintsBefore; }));
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 已连接: 127.0.0.1:5000");
  EXPECT_EQ(window_->shownSession(), next.get());
  EXPECT_FALSE(SDL_GetWindowFlags(window_->window()) & SDL_WINDOW_FULLSCREEN);
  EXPECT_GT(window_->painter()->paintCount(), paintsBefore);

  // Addresses that are not valid UTF-8 still reach the title, with U+FFFD in place.
  auto odd = cast_.Session("bad \xff title");
  std::thread([&] { window_->Post([&] { window_->ShowSession(odd); }); }).join();
  PumpUntil([&] { return Title() != "Tavoli网投屏接受客户端 - 已连接: 127.0.0.1:5000"; });
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 已连接: bad \xEF\xBF\xBD title");
}

TEST_F(MainWindowTest, APictureRepaintComesAtItsDueTimeWithoutAnotherEvent) {
  auto sender = ShowSenderWithPicture();
  // Until the start-up events (and any left by earlier cases) are through.
  for (SDL_Event event; SDL_WaitEventTimeout(&event, 100) == 1;) window_->HandleEvent(event);
  if (window_->needsPaint()) window_->PaintNow();
  const int64_t now = TickNs();
  std::thread([&] {
    window_->Post([&] { window_->PictureStored(sender.get(), now + 60'000'000); });
    window_->Post([&] { window_->PictureStored(sender.get(), now + 40'000'000); });  // the earlier one wins
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
  std::atomic<bool> returned{false};
  auto after = cast_.Session("after the box");
  std::thread server([&] {
    window_->ShowErrorBox("错误", "Failed to bind socket: 98");
    returned = true;
    window_->Post([&] { window_->ShowSession(after); });
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
  const std::string afterTitle = "Tavoli网投屏接受客户端 - 已连接: after the box";
  while (Title() != afterTitle && SDL_GetTicks() < deadline) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, 50) == 1) window_->HandleEvent(event);
  }
  server.join();
  dismisser.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(window_->panelCount(), 0u);
  EXPECT_EQ(Title(), afterTitle);
}

TEST_F(MainWindowTest, ClosePathHidesStopsOnItsOwnThreadReleasesThePictureAndEnds) {
  window_.reset();
  std::thread::id stopThread;
  const auto mainThread = std::this_thread::get_id();
  auto window = std::make_unique<MainWindow>([&] { stopThread = std::this_thread::get_id(); });
  ASSERT_TRUE(window->Create());
  std::weak_ptr<CastSession> shown;
  {
    auto session = cast_.Session();
    session->Start();
    session->picture().Replace(SolidRgbPicture(16, 16, 1, 2, 3));
    window->ShowSession(session);
    shown = session;
  }
  window->ShowPanel(MessagePanel{"Tavoli投屏客户端", "info", false});  // open boxes do not hold it up
  std::thread closer([&] { window->RequestClose(); });
  const int exitCode = window->RunEventLoop();
  closer.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(window->closing());
  EXPECT_TRUE(SDL_GetWindowFlags(window->window()) & SDL_WINDOW_HIDDEN);
  EXPECT_NE(stopThread, std::thread::id());
  EXPECT_NE(stopThread, mainThread);
  window.reset();
  EXPECT_TRUE(shown.expired());  // the window let go of the sender and its picture
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
