#pragma once

#include <SDL.h>

namespace orrin {

// `wanted` (a window's outer frame) moved and, where it is larger, shrunk so it lies inside
// `usable`; unchanged when it already fits. A screen smaller than the window must not leave
// its title bar or its lower part out of reach.
SDL_Rect FitRect(SDL_Rect wanted, SDL_Rect usable);

// The usable area (without panels and docks) of display `index`, or its whole bounds where
// the desktop does not say; false when the display does not exist.
bool UsableArea(int index, SDL_Rect& area);

}  // namespace orrin
