#include "app/window_placement.h"

#include <gtest/gtest.h>

namespace orrin {
namespace {

bool Same(SDL_Rect a, SDL_Rect b) { return SDL_RectEquals(&a, &b); }

TEST(WindowPlacement, AFrameIsMovedAndShrunkOnlyAsFarAsTheUsableAreaNeeds) {
  const SDL_Rect big{0, 0, 1600, 1000};
  EXPECT_TRUE(Same(FitRect({100, 100, 1202, 823}, big), {100, 100, 1202, 823}));  // fits: left alone
  // 1366x768 laptop: the width fits where it is, the height is cut to the screen.
  EXPECT_TRUE(Same(FitRect({100, 100, 1202, 823}, {0, 0, 1366, 768}), {100, 0, 1202, 768}));
  // 1280x720: moved left just enough, whole height.
  EXPECT_TRUE(Same(FitRect({100, 100, 1202, 823}, {0, 0, 1280, 720}), {78, 0, 1202, 720}));
  // A panel at the top and a second monitor to the right.
  EXPECT_TRUE(Same(FitRect({1700, 100, 800, 600}, {1600, 30, 1024, 738}), {1700, 100, 800, 600}));
  EXPECT_TRUE(Same(FitRect({100, 10, 800, 600}, {0, 30, 640, 450}), {0, 30, 640, 450}));
  // An unknown area changes nothing.
  EXPECT_TRUE(Same(FitRect({100, 100, 800, 600}, {0, 0, 0, 0}), {100, 100, 800, 600}));
}

}  // namespace
}  // namespace orrin
