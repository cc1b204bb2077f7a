#include "app/tile_layout.h"

namespace orrin {

std::vector<SDL_Rect> TileRects(size_t count, int width, int height) {
  std::vector<SDL_Rect> rects;
  if (count == 0) return rects;
  if (count == 1) return {SDL_Rect{0, 0, width, height}};
  const int halfWidth = width / 2;
  const int halfHeight = height / 2;
  if (count == 2) {
    if (height > width) return {SDL_Rect{0, 0, width, halfHeight}, SDL_Rect{0, halfHeight, width, height - halfHeight}};
    return {SDL_Rect{0, 0, halfWidth, height}, SDL_Rect{halfWidth, 0, width - halfWidth, height}};
  }
  const SDL_Rect grid[] = {{0, 0, halfWidth, halfHeight},
                           {halfWidth, 0, width - halfWidth, halfHeight},
                           {0, halfHeight, halfWidth, height - halfHeight},
                           {halfWidth, halfHeight, width - halfWidth, height - halfHeight}};
  for (size_t i = 0; i < count && i < 4; ++i) rects.push_back(grid[i]);
  return rects;
}

}  // namespace orrin
