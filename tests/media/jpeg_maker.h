#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/bytes.h"

namespace orrin::test {

// An RGB picture with content that JPEG treats like a photo: smooth gradients, a few
// hard-edged blocks of colour and some fine noise.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width*3 bytes per row, no padding
  const uint8_t* At(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
};

RgbImage MakeTestImage(int width, int height, unsigned seed);

// Sampling as TurboJPEG names it: TJSAMP_420, TJSAMP_444, TJSAMP_GRAY, ...
ByteBuffer CompressJpeg(const RgbImage& image, int subsampling, int quality);

// A valid grey progressive JPEG whose scan script spends one scan per coefficient and
// bit level: about 700 scans, each one legal. A decoder without a scan limit decodes it.
ByteBuffer CompressWithManyScans(const RgbImage& image);

// The value of `image` as a grey JPEG stores it (luma only).
uint8_t Luma(const uint8_t* rgb);

}  // namespace orrin::test
