#include <gtest/gtest.h>

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

TEST(DisplayState, InitialValuesAndWindowPort) {
  ResetDisplayStateForTesting();
  EXPECT_FALSE(isConnected);
  EXPECT_TRUE(isScreenActive);
  EXPECT_EQ(lastFrameTime, 0u);
  EXPECT_EQ(mainWindow(), nullptr);
  auto port = std::make_shared<WindowPort>();
  SetWindowPort(port);
  EXPECT_EQ(mainWindow(), port);
  ResetDisplayStateForTesting();
  EXPECT_EQ(mainWindow(), nullptr);
}

}  // namespace
}  // namespace orrin
