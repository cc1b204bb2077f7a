// Several senders in one window: where the tiles go, who has the focus, the prompts for
// senders that wait, and the window driving them on SDL's offscreen driver.
#include <gtest/gtest.h>

#include "app/key_bindings.h"
#include "app/main_window.h"
#include "app/prompt_queue.h"
#include "app/tile_layout.h"
#include "app/tile_set.h"
#include "sdl_test_env.h"
#include "support/tick.h"
#include "test_support/log_capture.h"

namespace orrin {
namespace {

bool Same(const SDL_Rect& a, const SDL_Rect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

TEST(TileLayout, SideBySideStackedOrAGridCoveringTheArea) {
  EXPECT_TRUE(Same(TileRects(1, 1200, 800)[0], {0, 0, 1200, 800}));
  auto two = TileRects(2, 1201, 800);
  EXPECT_TRUE(Same(two[0], {0, 0, 600, 800}));
  EXPECT_TRUE(Same(two[1], {600, 0, 601, 800}));
  auto tall = TileRects(2, 600, 1001);
  EXPECT_TRUE(Same(tall[0], {0, 0, 600, 500}));
  EXPECT_TRUE(Same(tall[1], {0, 500, 600, 501}));
  auto three = TileRects(3, 1200, 800);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_TRUE(Same(three[2], {0, 400, 600, 400}));
  auto four = TileRects(4, 1199, 799);
  EXPECT_TRUE(Same(four[3], {599, 399, 600, 400}));
  EXPECT_TRUE(TileRects(0, 100, 100).empty());
}

TEST(TileSetTest, PlacesStayFocusMovesAndZoomEndsWithTheLastButOne) {
  test::TestCast cast;
  TileSet tiles(4);
  auto a = cast.Session("10.0.0.1:1");
  auto b = cast.Session("10.0.0.2:1");
  auto c = cast.Session("10.0.0.3:1");
  EXPECT_EQ(tiles.Add(a, 5), 0u);
  EXPECT_EQ(tiles.Add(b, 6), 1u);
  EXPECT_EQ(tiles.Add(c, 7), 2u);
  EXPECT_EQ(tiles.Focused(), a.get());  // the first sender has it
  EXPECT_EQ(tiles.Since(1), 6u);
  EXPECT_TRUE(tiles.FocusNext());
  EXPECT_EQ(tiles.Focused(), b.get());
  EXPECT_TRUE(tiles.Remove(a.get()));
  EXPECT_FALSE(tiles.Remove(a.get()));
  EXPECT_EQ(tiles.Shown(), (std::vector<size_t>{1, 2}));
  EXPECT_TRUE(tiles.FocusNumber(2));  // the second tile shown
  EXPECT_EQ(tiles.Focused(), c.get());
  EXPECT_FALSE(tiles.FocusNumber(3));
  EXPECT_TRUE(tiles.FocusNext());  // round to the first
  EXPECT_EQ(tiles.Focused(), b.get());
  EXPECT_EQ(tiles.Add(a, 8), 0u);  // the first free place again
  EXPECT_FALSE(tiles.FocusPlace(3));
  tiles.ToggleZoom();
  EXPECT_EQ(tiles.Shown(), (std::vector<size_t>{1}));
  EXPECT_TRUE(tiles.Remove(b.get()));  // the focus goes to the first sender left
  EXPECT_EQ(tiles.Focused(), a.get());
  EXPECT_EQ(tiles.Shown(), (std::vector<size_t>{0}));  // still alone
  EXPECT_TRUE(tiles.Remove(c.get()));
  EXPECT_FALSE(tiles.zoomed());
  tiles.ToggleZoom();
  EXPECT_FALSE(tiles.zoomed());  // one sender: nothing to zoom into
}

TEST(PromptQueueTest, OneShownAtATimeEachWithItsWholeTime) {
  test::TestCast cast;
  PromptQueue prompts(30000);
  std::vector<std::pair<std::string, std::string>> answers;
  auto prompt = [&](const std::string& who) {
    return ApprovalPrompt{cast.Session(who), [&answers, who](bool admit, const std::string& reason) {
                            answers.emplace_back(who, admit ? "yes" : reason);
                          }};
  };
  prompts.Add(prompt("a"), 1000);
  prompts.Add(prompt("b"), 20000);
  prompts.Add(prompt("c"), 25000);
  EXPECT_EQ(prompts.SecondsLeft(1001), 30);
  EXPECT_FALSE(prompts.Expire(30999));
  EXPECT_TRUE(prompts.Expire(31000));
  // `b` waited behind `a`; its 30 s start now.
  EXPECT_EQ(prompts.Front()->preview->clientInfo(), "b");
  EXPECT_EQ(prompts.SecondsLeft(31000), 30);
  EXPECT_TRUE(prompts.Remove(prompts.Front()->preview.get(), 32000));  // `b` left
  EXPECT_TRUE(prompts.Answer(true, 33000));
  EXPECT_FALSE(prompts.Answer(false, 33000));
  EXPECT_EQ(answers, (std::vector<std::pair<std::string, std::string>>{{"a", "no answer in 30 s"}, {"c", "yes"}}));
  prompts.Add(prompt("d"), 40000);
  prompts.RefuseAll();
  EXPECT_EQ(answers.back(), std::make_pair(std::string("d"), std::string("the receiver is closing")));
}

TEST(KeyTable, TileKeysAndTheAnswerKeysComeBeforeABox) {
  EXPECT_EQ(ActionForKey(SDLK_TAB, false, false), KeyAction::FocusNext);
  EXPECT_EQ(ActionForKey(SDLK_3, false, false), KeyAction::FocusTile3);
  EXPECT_EQ(ActionForKey(SDLK_KP_1, false, true), KeyAction::FocusTile1);
  EXPECT_EQ(ActionForKey(SDLK_z, false, false), KeyAction::ToggleZoom);
  EXPECT_EQ(ActionForKey(SDLK_y, false, false), KeyAction::None);  // nobody waits
  EXPECT_EQ(ActionForKey(SDLK_y, true, false, true), KeyAction::Admit);
  EXPECT_EQ(ActionForKey(SDLK_n, true, false, true), KeyAction::Refuse);
  EXPECT_EQ(ActionForKey(SDLK_TAB, true, false, true), KeyAction::None);  // the box has the keyboard
}

class TiledWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { test::StartOffscreenSdl(); }
  static void TearDownTestSuite() { test::StopOffscreenSdl(); }
  void SetUp() override {
    WindowOptions options;
    options.senders = 4;
    options.approveTimeoutMs = 2000;
    window_ = std::make_unique<MainWindow>([] {}, options);
    ASSERT_TRUE(window_->Create());
    window_->SetFocusListener([this](const CastSession* focused) { focusTold_.push_back(focused); });
  }
  void TearDown() override { window_.reset(); }
  std::shared_ptr<CastSession> Show(const std::string& who, uint8_t red) {
    auto session = cast_.Session(who);
    session->Start();
    session->picture().Replace(test::SolidRgbPicture(40, 80, red, 0, 0));
    window_->ShowSession(session);
    return session;
  }
  void Key(SDL_Keycode key) { window_->HandleKey(key); }
  std::string Title() const { return SDL_GetWindowTitle(window_->window()); }

  test::LogCapture log_;
  test::TestCast cast_;
  std::unique_ptr<MainWindow> window_;
  std::vector<const CastSession*> focusTold_;
};

TEST_F(TiledWindowTest, FocusKeysZoomAndALeavingSenderKeepTheOthersShown) {
  auto a = Show("10.0.0.1:1", 100);
  auto b = Show("10.0.0.2:1", 200);
  auto c = Show("10.0.0.3:1", 250);
  window_->PaintNow();
  EXPECT_EQ(focusTold_, (std::vector<const CastSession*>{a.get()}));
  Key(SDLK_TAB);
  EXPECT_EQ(window_->shownSession(), b.get());
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 已连接: 10.0.0.2:1");
  Key(SDLK_3);
  EXPECT_EQ(window_->shownSession(), c.get());
  Key(SDLK_z);
  EXPECT_EQ(window_->tiles().Shown(), (std::vector<size_t>{2}));
  window_->PaintNow();
  Key(SDLK_z);
  EXPECT_EQ(window_->tiles().Shown().size(), 3u);
  EXPECT_EQ(focusTold_, (std::vector<const CastSession*>{a.get(), b.get(), c.get()}));
  // Each tile's next picture is decoded for its tile: a 2x2 grid.
  window_->PaintNow();
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(window_->renderer(), &width, &height);
  const DrawArea tile = window_->painter()->tileArea(0);
  EXPECT_EQ(tile.width, width / 2);
  EXPECT_EQ(tile.height, height / 2);
  c->End();
  window_->SessionEnded(c.get());
  EXPECT_EQ(window_->shownSession(), a.get());  // the focus goes to the first left
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 已连接: 10.0.0.1:1");
  EXPECT_EQ(window_->tiles().Count(), 2u);
  a->End();
  window_->SessionEnded(a.get());
  b->End();
  window_->SessionEnded(b.get());
  EXPECT_EQ(Title(), "Tavoli网投屏接受客户端 - 等待连接...");
  EXPECT_EQ(focusTold_.back(), nullptr);
  window_->PaintNow();  // the waiting screen again
}

TEST_F(TiledWindowTest, PromptsQueueAndAreAnsweredByKeyOrTime) {
  std::vector<std::string> answers;
  auto ask = [&](const std::string& who) {
    auto preview = cast_.Session(who);
    preview->picture().Replace(test::SolidRgbPicture(40, 80, 0, 200, 0));
    window_->ShowPrompt(ApprovalPrompt{preview, [&answers, who](bool admit, const std::string& reason) {
                                         answers.push_back(who + (admit ? " yes" : " " + reason));
                                       }});
    return preview;
  };
  auto first = ask("10.0.0.7:1");
  auto second = ask("10.0.0.8:1");
  auto third = ask("10.0.0.9:1");
  EXPECT_EQ(log_.Count("等待允许投屏: 10.0.0.7:1"), 1);
  window_->PaintNow();
  EXPECT_GT(window_->painter()->previewArea().width, 0);  // the preview is decoded for its square
  Key(SDLK_y);
  window_->PromptEnded(second.get());  // the second sender left while it waited
  window_->ScreenCheck(Tick() + 2500);  // the third one's time is up
  EXPECT_EQ(answers, (std::vector<std::string>{"10.0.0.7:1 yes", "10.0.0.9:1 no answer in 2 s"}));
  EXPECT_EQ(window_->prompts().size(), 0u);
  Key(SDLK_n);  // nobody waits: nothing
  EXPECT_EQ(answers.size(), 2u);
}

}  // namespace
}  // namespace orrin
