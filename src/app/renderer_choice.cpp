#include "app/renderer_choice.h"

#include <cstring>
#include <string>

#include "support/log.h"

namespace orrin {
namespace {

// Presents wait for the display's refresh where the driver can do that, so a picture is never
// shown half old, half new, at a cost of at most one refresh of delay. Where it cannot (a GL
// without swap control, as under a virtual X server; the software renderer), SDL would only
// sleep before each present: no tearing avoided, delay added. So vsync is asked of SDL only
// when the driver itself offers it.
void PresentOnRefreshWhereOffered(SDL_Renderer* renderer) {
  SDL_RendererInfo info;
  if (SDL_GetRendererInfo(renderer, &info) != 0 || (info.flags & SDL_RENDERER_ACCELERATED) == 0) return;
  const bool gl = std::strncmp(info.name, "opengl", 6) == 0;
  if (gl && SDL_GL_SetSwapInterval(1) != 0) return;  // GL answers honestly; SDL would pretend
  SDL_RenderSetVSync(renderer, 1);                   // Direct3D and Metal present on the refresh
}

}  // namespace

SDL_Renderer* CreateCastRenderer(SDL_Window* window) {
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED);
  if (renderer != nullptr) {
    PresentOnRefreshWhereOffered(renderer);
    return renderer;
  }
  LogInfo(std::string("No accelerated renderer (") + SDL_GetError() + "), drawing in software");
  return SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
}

bool PresentsOnRefresh(SDL_Renderer* renderer) {
  SDL_RendererInfo info;
  return SDL_GetRendererInfo(renderer, &info) == 0 && (info.flags & SDL_RENDERER_ACCELERATED) != 0 &&
         (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
}

}  // namespace orrin
