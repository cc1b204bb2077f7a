#pragma once

#include <SDL.h>

namespace orrin {

// The renderer the window draws with: accelerated where the system has one, software
// otherwise. Null (with SDL's error set) when neither can be made. Shared with the present
// benchmark, so its floor is measured on exactly what the receiver uses.
// Presents wait for the display's refresh where the driver offers it.
SDL_Renderer* CreateCastRenderer(SDL_Window* window);
// Whether they do (the software renderer reports it, but never does).
bool PresentsOnRefresh(SDL_Renderer* renderer);
// Shows what was drawn and, where no screen takes the frame, waits until it is drawn.
void PresentFrame(SDL_Renderer* renderer);

}  // namespace orrin
