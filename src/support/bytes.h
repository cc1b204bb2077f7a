#pragma once

#include <cstdint>
#include <vector>

namespace orrin {

// Frames, payloads and media contents travel in this.
using ByteBuffer = std::vector<uint8_t>;

}  // namespace orrin
