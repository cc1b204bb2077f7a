#include <gtest/gtest.h>

#include "media/cast_session.h"
#include "media/cast_stats.h"
#include "media/display_state.h"

namespace orrin {
namespace {

TEST(DisplayMode, FirstTestThatHoldsWins) {
  using M = DisplayMode;
  // hasPicture, connected, screenActive
  EXPECT_EQ(ChooseDisplayMode(false, false, true), M::WaitingForConnection);  // process start
  EXPECT_EQ(ChooseDisplayMode(false, true, true), M::ConnectedWaiting);
  EXPECT_EQ(ChooseDisplayMode(true, true, true), M::Picture);
  EXPECT_EQ(ChooseDisplayMode(true, true, false), M::ScreenOff);  // a held picture does not beat screen-off
  EXPECT_EQ(ChooseDisplayMode(false, true, false), M::ScreenOff);
  EXPECT_EQ(ChooseDisplayMode(true, false, true), M::Picture);  // the picture test ignores the connection
  EXPECT_EQ(ChooseDisplayMode(false, false, false), M::WaitingForConnection);  // after a disconnection
}

TEST(DisplayState, ASenderNotYetStartedShowsTheWaitingScreen) {
  CastStats stats;
  CastRun run({}, stats);
  CastSession session("10.0.0.2:5000", run, ScreenSink{}, {});
  EXPECT_FALSE(session.connected());
  EXPECT_TRUE(session.screenActive());
  EXPECT_FALSE(session.picture().Holds());
  EXPECT_EQ(session.picture().Read([](const Picture*, uint64_t generation) { return generation; }), 0u);
  EXPECT_FALSE(session.CheckScreen(SCREEN_OFF_TIMEOUT_MS * 2));  // not connected: no screen to turn off
  EXPECT_EQ(ChooseDisplayMode(session.picture().Holds(), session.connected(), session.screenActive()),
            DisplayMode::WaitingForConnection);
}

}  // namespace
}  // namespace orrin
