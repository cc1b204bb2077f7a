#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/bytes.h"

namespace orrin {

// The media bytes of one video or audio message; the buffer lives only during the call.
using FrameCallback = std::function<void(const ByteBuffer&)>;
// The same with the sender's time stamp of the message (milliseconds of the sender's clock).
using StampedFrameCallback = std::function<void(const ByteBuffer&, uint32_t)>;
// (true, "a.b.c.d:port") when a sender connects, (false, "") when its connection ends.
using ConnectionCallback = std::function<void(bool, const std::string&)>;
// The text of a start-up failure.
using ErrorCallback = std::function<void(const std::string&)>;

}  // namespace orrin
