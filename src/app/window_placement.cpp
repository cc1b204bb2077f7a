#include "app/window_placement.h"

#include <algorithm>

namespace orrin {

SDL_Rect FitRect(SDL_Rect wanted, SDL_Rect usable) {
  if (usable.w <= 0 || usable.h <= 0) return wanted;
  SDL_Rect fitted = wanted;
  fitted.w = std::min(wanted.w, usable.w);
  fitted.h = std::min(wanted.h, usable.h);
  fitted.x = std::clamp(wanted.x, usable.x, usable.x + usable.w - fitted.w);
  fitted.y = std::clamp(wanted.y, usable.y, usable.y + usable.h - fitted.h);
  return fitted;
}

bool UsableArea(int index, SDL_Rect& area) {
  if (index < 0 || index >= SDL_GetNumVideoDisplays()) return false;
  if (SDL_GetDisplayUsableBounds(index, &area) == 0 && area.w > 0 && area.h > 0) return true;
  return SDL_GetDisplayBounds(index, &area) == 0;
}

}  // namespace orrin
