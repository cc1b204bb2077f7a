#pragma once

#include <cstdint>
#include <vector>

namespace orrin {

// One picture of an icon: size x size pixels, 4 bytes each (R, G, B, A), rows top to bottom.
struct IcoImage {
  int size = 0;
  std::vector<uint8_t> rgba;
};

// A Windows .ico file holding the pictures in the order given, each as a 32-bit DIB with its
// AND mask (pixels under half opacity are masked out, for renderers that ignore alpha).
// Empty when a picture cannot be stored: a size outside 1..256, pixels that do not match
// the size, or no picture at all.
std::vector<uint8_t> EncodeIco(const std::vector<IcoImage>& images);

}  // namespace orrin
