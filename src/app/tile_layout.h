#pragma once

#include <SDL.h>

#include <cstddef>
#include <vector>

namespace orrin {

// Where `count` tiles go in an area of width x height: one fills it; two side by side, or
// one above the other when the area is taller than wide; three or four in a 2x2 grid (row
// by row). Sizes are split so the tiles cover the area exactly.
std::vector<SDL_Rect> TileRects(size_t count, int width, int height);

}  // namespace orrin
