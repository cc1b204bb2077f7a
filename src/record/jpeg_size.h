#pragma once

#include <cstddef>
#include <cstdint>

namespace orrin {

// Width and height from a JPEG's frame header (the first SOFn marker), without decoding.
// False when the bytes hold no complete frame header.
bool JpegFrameSize(const uint8_t* data, size_t size, int& width, int& height);

}  // namespace orrin
