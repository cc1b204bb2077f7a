#include "app/display_scale.h"

#include <gtest/gtest.h>

namespace orrin {
namespace {

TEST(DisplayScale, XftDpiIsReadFromTheResourceDatabaseText) {
  // As xrdb and desktops leave it: one resource a line, tabs after the colon.
  EXPECT_EQ(XftDpi("Xcursor.size:\t24\nXft.dpi:\t192\nXft.antialias:\t1\n"), 192.0);
  EXPECT_EQ(XftDpi("Xft.dpi: 144.5"), 144.5);  // the last line without its break
  EXPECT_FALSE(XftDpi(""));
  EXPECT_FALSE(XftDpi("Xft.antialias:\t1\n"));
  EXPECT_FALSE(XftDpi("Xft.dpi:\tlarge\n"));
  EXPECT_FALSE(XftDpi("Xft.dpi:\t-96\n"));
  EXPECT_FALSE(XftDpi("Xft.dpi:\t0\n"));
  EXPECT_FALSE(XftDpi("xterm*Xft.dpi: 192\n"));  // another program's setting
}

TEST(DisplayScale, ScalesFollowTheDpiAndTheDrawableNeverShrinkingTheTexts) {
  EXPECT_EQ(ScaleFromDpi(96), 1.0);
  EXPECT_EQ(ScaleFromDpi(192), 2.0);
  EXPECT_EQ(ScaleFromDpi(144), 1.5);
  EXPECT_EQ(ScaleFromDpi(120), 1.25);
  EXPECT_EQ(ScaleFromDpi(72), 1.0);    // no smaller than a 96 dpi desktop shows them
  EXPECT_EQ(ScaleFromDpi(1000), 4.0);  // a wrong setting cannot blow the window up
  EXPECT_EQ(ScaleFromDpi(0), 1.0);
  // Wayland at scale 2: window units of 1200, a drawable of 2400 pixels.
  EXPECT_EQ(DrawScale(1.0, 1200, 2400), 2.0);
  EXPECT_EQ(DrawScale(2.0, 2400, 2400), 2.0);  // X11 at 192 dpi
  EXPECT_EQ(DrawScale(1.0, 1200, 1200), 1.0);
  EXPECT_EQ(DrawScale(1.5, 0, 0), 1.5);  // a hidden window reports nothing
  EXPECT_EQ(Scaled(48, 1.0), 48);
  EXPECT_EQ(Scaled(48, 1.25), 60);
  EXPECT_EQ(Scaled(25, 1.5), 38);  // rounded, not cut
  EXPECT_EQ(ScaleText(2.0), "2");
  EXPECT_EQ(ScaleText(1.25), "1.25");
}

}  // namespace
}  // namespace orrin
