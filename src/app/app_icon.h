#pragma once

#include "app/sdl_handles.h"

namespace orrin {

// The window's 32x32 icon, drawn in code so the binary carries it without a file beside it:
// a blue tile with a white screen and a green cast dot. Null if SDL cannot make a surface.
SurfacePtr MakeAppIcon();

}  // namespace orrin
