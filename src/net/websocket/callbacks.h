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
// The text of a start-up failure.
using ErrorCallback = std::function<void(const std::string&)>;

// The receiver's side of one sender whose handshake succeeded: the media of its cast
// messages go here on the sender's thread, and `ended` is called once when its connection is
// over. Empty functions are skipped.
struct SenderHooks {
  StampedFrameCallback video;
  FrameCallback audio;
  std::function<void()> ended;
};

// Called on the sender's thread once its handshake has succeeded and it has become a current
// sender, with its address "a.b.c.d:port"; what it returns receives that sender's media.
using SenderOpener = std::function<SenderHooks(const std::string& clientInfo)>;

}  // namespace orrin
