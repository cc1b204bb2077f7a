#include "media/decode_scale.h"

#include <algorithm>

namespace orrin {
namespace {

// width (15 bits) | height (15 bits) | stretch (1 bit); sides are clamped to 32767.
constexpr uint32_t SIDE_MASK = 0x7FFF;

}  // namespace

int ChooseScaleDenominator(int pictureWidth, int pictureHeight, DrawArea area) {
  if (pictureWidth <= 0 || pictureHeight <= 0 || area.width <= 0 || area.height <= 0) return 1;
  long long drawnWidth = area.width;
  long long drawnHeight = area.height;
  if (!area.stretch) {
    // The letterbox: scaled by the smaller ratio, truncated to whole pixels.
    const double scale = std::min(static_cast<double>(area.width) / pictureWidth,
                                  static_cast<double>(area.height) / pictureHeight);
    drawnWidth = static_cast<long long>(pictureWidth * scale);
    drawnHeight = static_cast<long long>(pictureHeight * scale);
  }
  for (int denominator : {4, 2}) {
    // TurboJPEG rounds a scaled side up.
    const long long width = (pictureWidth + denominator - 1) / denominator;
    const long long height = (pictureHeight + denominator - 1) / denominator;
    if (width >= drawnWidth && height >= drawnHeight) return denominator;
  }
  return 1;
}

uint32_t PackDrawArea(DrawArea area) {
  const auto side = [](int value) { return static_cast<uint32_t>(std::clamp(value, 0, 0x7FFF)); };
  return side(area.width) | side(area.height) << 15 | (area.stretch ? 1u << 30 : 0u);
}

DrawArea UnpackDrawArea(uint32_t value) {
  return DrawArea{static_cast<int>(value & SIDE_MASK), static_cast<int>((value >> 15) & SIDE_MASK),
                  (value >> 30 & 1u) != 0};
}

}  // namespace orrin
