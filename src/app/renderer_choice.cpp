#include "app/renderer_choice.h"

#include <SDL_opengl.h>

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

// SDL's offscreen driver draws GL into a pbuffer, and a pbuffer's swap does nothing: no
// frame is ever handed on. A software GL (Mesa's llvmpipe) then keeps queueing frames, and
// every texture they drew from stays alive after it was destroyed, until its queue is
// full. A receiver whose window changes pictures and text screens with each sender grew by
// 70 MiB and more that way, windowless. Finishing each frame lets them go at once.
bool FrameNeedsFinish(SDL_Renderer* renderer) {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::strcmp(driver, "offscreen") != 0) return false;
  SDL_RendererInfo info;
  return SDL_GetRendererInfo(renderer, &info) == 0 && std::strncmp(info.name, "opengl", 6) == 0;
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

void PresentFrame(SDL_Renderer* renderer) {
  SDL_RenderPresent(renderer);
  if (!FrameNeedsFinish(renderer)) return;
  using FinishCall = void(GLAPIENTRY*)();
  if (auto finish = reinterpret_cast<FinishCall>(SDL_GL_GetProcAddress("glFinish"))) finish();
}

}  // namespace orrin
