#pragma once

#include <functional>
#include <string>

#include "support/bytes.h"

namespace orrin {

// The media bytes of one video or audio message; the buffer lives only during the call.
using FrameCallback = std::function<void(const ByteBuffer&)>;
// (true, "a.b.c.d:port") when a sender connects, (false, "") when its connection ends.
using ConnectionCallback = std::function<void(bool, const std::string&)>;
// The text of a start-up failure.
using ErrorCallback = std::function<void(const std::string&)>;

}  // namespace orrin
