#include "app/app_icon.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "app/icon_art.h"

namespace orrin {

SurfacePtr MakeAppIcon() {
  // Large, so that taskbars and docks scale it down rather than up.
  constexpr int SIZE = 256;
  SurfacePtr icon(SDL_CreateRGBSurfaceWithFormat(0, SIZE, SIZE, 32, SDL_PIXELFORMAT_RGBA32));
  if (!icon) return icon;
  const std::vector<uint8_t> pixels = RenderIconRgba(SIZE);
  for (int y = 0; y < SIZE; ++y)
    std::memcpy(static_cast<uint8_t*>(icon->pixels) + y * icon->pitch, &pixels[y * SIZE * 4], SIZE * 4);
  return icon;
}

}  // namespace orrin
