#pragma once

#include <cstdint>

namespace orrin {

// The window area a picture is drawn into, in output pixels, as the window last
// published it. Zero sides: unknown (no window yet), decode at full size.
struct DrawArea {
  int width = 0;
  int height = 0;
  bool stretch = false;  // full screen: the picture fills the area, shape or not
};

// The smallest TurboJPEG scale (1/1, 1/2 or 1/4, given as its denominator) whose picture
// still covers the rectangle the picture is drawn into, so shrinking on the GPU never has
// to enlarge. A picture drawn at half its size or less is decoded at half size: a quarter
// of the pixels to decode, upload and scale.
int ChooseScaleDenominator(int pictureWidth, int pictureHeight, DrawArea area);

// A draw area packed into one word, so the window (main thread) can hand it to the
// decoder (the sender's thread) through an atomic and the two never wait for each other.
uint32_t PackDrawArea(DrawArea area);
DrawArea UnpackDrawArea(uint32_t packed);

}  // namespace orrin
