#include "app/app_icon.h"

#include <cstdint>
#include <cstdlib>

namespace orrin {

SurfacePtr MakeAppIcon() {
  constexpr int SIZE = 32;
  SurfacePtr icon(SDL_CreateRGBSurfaceWithFormat(0, SIZE, SIZE, 32, SDL_PIXELFORMAT_RGBA32));
  if (!icon) return icon;
  auto* rows = static_cast<uint8_t*>(icon->pixels);
  for (int y = 0; y < SIZE; ++y) {
    for (int x = 0; x < SIZE; ++x) {
      uint8_t* p = rows + y * icon->pitch + x * 4;
      // Rounded tile: leave the corners transparent.
      const int cx = x < 4 ? 4 - x : (x > 27 ? x - 27 : 0);
      const int cy = y < 4 ? 4 - y : (y > 27 ? y - 27 : 0);
      const bool inside = cx * cx + cy * cy <= 16;
      const bool screen = x >= 6 && x <= 25 && y >= 8 && y <= 21;
      const bool stand = x >= 13 && x <= 18 && y >= 22 && y <= 24;
      const int dx = x - 22;
      const int dy = y - 18;
      const bool dot = dx * dx + dy * dy <= 5;
      uint8_t r = 30, g = 90, b = 200, a = inside ? 255 : 0;
      if (inside && dot) {
        r = 0, g = 220, b = 80;
      } else if (inside && (screen || stand)) {
        r = g = b = 245;
      }
      p[0] = r;
      p[1] = g;
      p[2] = b;
      p[3] = a;
    }
  }
  return icon;
}

}  // namespace orrin
