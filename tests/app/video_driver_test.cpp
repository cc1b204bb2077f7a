#include "app/video_driver.h"

#include <gtest/gtest.h>

namespace orrin {
namespace {

TEST(VideoDriver, WaylandIsAskedAboutOnlyWhenSdlMightTryIt) {
  EXPECT_TRUE(MayTryWayland(nullptr));
  EXPECT_TRUE(MayTryWayland(""));
  EXPECT_TRUE(MayTryWayland("wayland"));
  EXPECT_TRUE(MayTryWayland("x11, Wayland"));
  EXPECT_FALSE(MayTryWayland("x11"));
  EXPECT_FALSE(MayTryWayland("offscreen"));
  EXPECT_FALSE(MayTryWayland("waylandish,dummy"));
}

TEST(VideoDriver, ACompositorWithoutASeatIsLeftOutAndTheLogSaysWhatInstead) {
  // Nothing changes where the seat is there, or where no compositor answers.
  for (WaylandSeat seat : {WaylandSeat::Present, WaylandSeat::NoCompositor}) {
    for (const char* requested : {static_cast<const char*>(nullptr), "wayland", "wayland,x11"}) {
      const VideoDriverPlan plan = PlanVideoDrivers(requested, seat);
      EXPECT_TRUE(plan.drivers.empty() && !plan.windowless && plan.logLine.empty());
    }
  }
  // Nothing asked for: SDL tries X11 first anyway; only its fall back onto Wayland goes.
  VideoDriverPlan plan = PlanVideoDrivers(nullptr, WaylandSeat::Missing);
  EXPECT_EQ(plan.drivers, "x11");
  EXPECT_FALSE(plan.windowless);
  EXPECT_NE(plan.logLine.find("no input seat"), std::string::npos) << plan.logLine;
  EXPECT_NE(plan.logLine.find("trying x11 instead"), std::string::npos) << plan.logLine;
  // A list keeps its other drivers in their order.
  EXPECT_EQ(PlanVideoDrivers(" Wayland , kmsdrm,x11", WaylandSeat::Missing).drivers, "kmsdrm,x11");
  // Wayland alone: nothing left to try, so no window, and the line says how to get one.
  plan = PlanVideoDrivers("wayland", WaylandSeat::Missing);
  EXPECT_TRUE(plan.windowless);
  EXPECT_TRUE(plan.drivers.empty());
  EXPECT_NE(plan.logLine.find("running without a window"), std::string::npos) << plan.logLine;
  // A request that never reaches Wayland is left alone.
  EXPECT_TRUE(PlanVideoDrivers("x11", WaylandSeat::Missing).logLine.empty());
}

}  // namespace
}  // namespace orrin
