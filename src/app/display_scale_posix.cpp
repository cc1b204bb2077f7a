#include <SDL.h>
#include <X11/Xlib.h>

#include <cstring>

#include "app/display_scale.h"

namespace orrin {

double DesktopScale(int) {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::strcmp(driver, "x11") != 0) return 1.0;
  // Toolkits take the desktop's scale from Xft.dpi; SDL 2.26 does not read it. A short
  // connection of our own reads the resources the server holds.
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return 1.0;
  const char* resources = XResourceManagerString(display);
  const std::optional<double> dpi = XftDpi(resources != nullptr ? resources : "");
  XCloseDisplay(display);
  return dpi ? ScaleFromDpi(*dpi) : 1.0;
}

}  // namespace orrin
