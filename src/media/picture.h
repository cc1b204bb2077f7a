#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/bytes.h"

namespace orrin {

// How a Picture's pixels are laid out. The window uploads either form as it stands:
// I420 into an IYUV texture (full-range JPEG colour), RGB24 into an RGB24 texture.
enum class PixelFormat { I420, RGB24 };

// One decoded picture, owned through std::unique_ptr by whoever holds it.
// I420: three planes Y, U, V; U and V are (width+1)/2 x (height+1)/2.
// RGB24: one plane of width*3 bytes per row (rounded up to the pitch).
struct Picture {
  int width = 0;
  int height = 0;
  PixelFormat format = PixelFormat::RGB24;
  std::vector<uint8_t> data;            // every plane, one allocation
  std::array<size_t, 3> planeOffset{};  // where each plane starts in data
  std::array<int, 3> pitch{};           // bytes per row of each plane (0: plane unused)
  // For statistics: when the picture's last byte was received (NowNs(); 0 when unknown).
  int64_t receivedNs = 0;
  // The sender's JPEG bytes this picture was decoded from (shared with the recording), so
  // the picture on screen can be saved exactly as it arrived. Null for pictures made here.
  std::shared_ptr<const ByteBuffer> jpeg;

  const uint8_t* Plane(int i) const { return data.data() + planeOffset[static_cast<size_t>(i)]; }
  uint8_t* Plane(int i) { return data.data() + planeOffset[static_cast<size_t>(i)]; }
};

}  // namespace orrin
