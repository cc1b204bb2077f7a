#include <SDL.h>

#include "app/display_scale.h"

namespace orrin {

double DesktopScale(int displayIndex) {
  // The process is DPI-aware, so window sizes are in pixels and the display's DPI says
  // how large they should be.
  float horizontal = 0;
  if (SDL_GetDisplayDPI(displayIndex, nullptr, &horizontal, nullptr) != 0) return 1.0;
  return ScaleFromDpi(horizontal);
}

}  // namespace orrin
