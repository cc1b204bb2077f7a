#include "app/video_driver.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "support/log.h"

namespace orrin {

namespace {

std::vector<std::string> SplitList(const char* list) {
  std::vector<std::string> names;
  std::string name;
  for (const char* c = list; c != nullptr && *c != '\0'; ++c) {
    if (*c == ',') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else if (!std::isspace(static_cast<unsigned char>(*c))) {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

const char* const NO_SEAT =
    "The Wayland compositor offers no input seat (no keyboard, mouse or touch screen), and "
    "this SDL crashes opening a window there";

}  // namespace

bool MayTryWayland(const char* requested) {
  const std::vector<std::string> names = SplitList(requested);
  return names.empty() || std::find(names.begin(), names.end(), "wayland") != names.end();
}

VideoDriverPlan PlanVideoDrivers(const char* requested, WaylandSeat seat) {
  VideoDriverPlan plan;
  if (seat != WaylandSeat::Missing || !MayTryWayland(requested)) return plan;
  std::vector<std::string> names = SplitList(requested);
  if (names.empty()) {
    // SDL tries X11 before Wayland: only the fall back onto Wayland is taken away.
    plan.drivers = "x11";
  } else {
    names.erase(std::remove(names.begin(), names.end(), "wayland"), names.end());
    for (const std::string& name : names) plan.drivers += (plan.drivers.empty() ? "" : ",") + name;
  }
  if (plan.drivers.empty()) {
    plan.windowless = true;
    plan.logLine = std::string(NO_SEAT) +
                   ": running without a window (cast link and discovery only). Attach a "
                   "keyboard, mouse or touch screen, or allow X11 through Xwayland (SDL_VIDEODRIVER=x11)";
  } else {
    plan.logLine = std::string(NO_SEAT) + ": trying " + plan.drivers + " instead (Xwayland, for one)";
  }
  return plan;
}

VideoDriverPlan PrepareVideoDriver() {
  TolerateLateWakeUps();
  const char* requested = std::getenv("SDL_VIDEODRIVER");
  if (!MayTryWayland(requested)) return VideoDriverPlan{};
  const WaylandCompositor compositor = ProbeWaylandCompositor();
  VideoDriverPlan plan = PlanVideoDrivers(requested, compositor.seat);
  if (!plan.drivers.empty())
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, plan.drivers.c_str(), SDL_HINT_OVERRIDE);
  if (!plan.logLine.empty()) (plan.windowless ? LogError : LogInfo)(plan.logLine);
  // libdecor without a plugin draws nothing and says so in two raw lines of its own; plain
  // xdg-shell gives the same window without them, and the log says what is missing.
  if (compositor.seat == WaylandSeat::Present && !TitleBarPluginInstalled()) {
    SDL_SetHint(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0");
    plan.titleBarMissing = !compositor.drawsTitleBars;
  }
  return plan;
}

void ReportVideoDriver(const char* driver, const VideoDriverPlan& plan) {
  if (plan.titleBarMissing && driver != nullptr && std::string(driver) == "wayland") LogInfo(TitleBarHint());
}

}  // namespace orrin
