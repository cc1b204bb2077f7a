#pragma once

#include "app/sdl_handles.h"

namespace orrin {

// The window's 32x32 icon, drawn in code so the binary carries it without a file beside it:
// the picture of icon_art.h, the same as the installed icons. Null if SDL cannot make a surface.
SurfacePtr MakeAppIcon();

}  // namespace orrin
