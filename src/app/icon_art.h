#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orrin {

// The receiver's icon, described once as shapes: a blue rounded tile with a white screen on
// a stand and a green cast dot. The window icon, the installed PNGs of every size and the
// scalable SVG are all drawn from this description.

// size x size pixels, 4 bytes each (R, G, B, A), rows top to bottom; edges antialiased.
std::vector<uint8_t> RenderIconRgba(int size);
// The same shapes as an SVG document.
std::string IconSvg();

}  // namespace orrin
