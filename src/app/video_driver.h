#pragma once

#include <string>

namespace orrin {

// Whether the Wayland compositor SDL would talk to offers an input seat (a keyboard, mouse
// or touch screen). SDL 2.26 dereferences the missing seat inside SDL_Init and the process
// dies before it can say a word, so this is asked first, over a connection of our own.
enum class WaylandSeat { NoCompositor, Present, Missing };

struct WaylandCompositor {
  WaylandSeat seat = WaylandSeat::NoCompositor;
  bool drawsTitleBars = false;  // it offers to draw window decorations itself
};

// The video drivers SDL is to try, decided before SDL_Init.
struct VideoDriverPlan {
  std::string drivers;           // the SDL_VIDEODRIVER list to set; empty: SDL chooses as usual
  bool windowless = false;       // no driver is left to try: run without a window
  std::string logLine;           // what the log says about the choice; empty when nothing changed
  bool titleBarMissing = false;  // a window on Wayland would have no title bar
};

// `requested` is the SDL_VIDEODRIVER setting (null or empty when none).
// True when SDL may end up on Wayland, so that the seat is worth asking about.
bool MayTryWayland(const char* requested);
// Wayland is left out of the list when its compositor has no seat; X11 (Xwayland, say)
// comes in its place when nothing else was asked for.
VideoDriverPlan PlanVideoDrivers(const char* requested, WaylandSeat seat);

// The platform's side: asks the compositor (nothing to ask on Windows).
WaylandCompositor ProbeWaylandCompositor();
// Whether libdecor, which draws the window's title bar on compositors that leave that to
// the client, finds a plugin to draw it with.
bool TitleBarPluginInstalled();
// The one line that says how to get a title bar on Wayland.
std::string TitleBarHint();

// Before SDL_Init (SDL keeps the handler it finds and calls it after its own): X errors
// that only say a wake-up reached a window already gone are not fatal (see the posix file).
void TolerateLateWakeUps();
// Before SDL_Init: probes, sets SDL's hints and logs the choice. Returns the plan.
VideoDriverPlan PrepareVideoDriver();
// After SDL_Init: what the log says about the driver SDL took (the title bar on Wayland).
void ReportVideoDriver(const char* driver, const VideoDriverPlan& plan);

}  // namespace orrin
