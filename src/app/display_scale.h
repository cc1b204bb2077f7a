#pragma once

#include <optional>
#include <string>

namespace orrin {

// How large the window and its texts are on this desktop, as a factor of the sizes a 96 dpi
// desktop gets: 1 at 96 dpi (every size exactly as there), 2 at 192 dpi.
//
// Two factors meet here. The desktop's scale (Xft.dpi on X11, the display's DPI on
// Windows) says how large a window should be in the window system's units; where the
// compositor scales windows itself (Wayland), those units are already large and the
// desktop's scale is 1, but the window's drawable has more pixels than its units. The
// painter draws in drawable pixels, so it takes both.

// The scale a DPI setting asks for, never below 1 (texts never get smaller than a 96 dpi
// desktop shows them) and at most 4; 96 gives exactly 1.
double ScaleFromDpi(double dpi);
// Xft.dpi out of the X resource database's text (the root window's RESOURCE_MANAGER, where
// desktops and `xrdb` put it); nothing when it is absent or not a positive number.
std::optional<double> XftDpi(const std::string& resources);
// The painter's scale: the desktop's scale times the drawable pixels per window unit.
double DrawScale(double desktopScale, int windowWidth, int drawableWidth);
// `value` (a size at 96 dpi) at `scale`, rounded; unchanged at 1.
int Scaled(int value, double scale);
// "2", "1.5", "1.25": for the log.
std::string ScaleText(double scale);

// The platform's side, after SDL's video is up: X11's Xft.dpi, Windows' display DPI,
// 1 elsewhere.
double DesktopScale(int displayIndex);

}  // namespace orrin
