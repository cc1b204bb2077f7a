#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "support/bytes.h"

namespace orrin {

// What passes through the cast callbacks, offered to whoever listens (the recorder). The
// callbacks call the Tap functions on the sender's thread; a listener must return at once
// and never wait for a disk or a lock held across slow work.
struct CastTapListener {
  std::function<void(bool connected, const std::string& clientInfo)> connection;
  // A picture the receiver accepted and decoded, as the sender's JPEG bytes, with the time
  // its last byte arrived (NowNs()).
  std::function<void(const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs)> picture;
  std::function<void(const ByteBuffer& pcm, int64_t receivedNs)> sound;
};

// Installs (or, with null, removes) the one listener.
void SetCastTapListener(std::shared_ptr<const CastTapListener> listener);

void TapConnection(bool connected, const std::string& clientInfo);
void TapPicture(const std::shared_ptr<const ByteBuffer>& jpeg, int64_t receivedNs);
void TapSound(const ByteBuffer& pcm, int64_t receivedNs);

// "a.b.c.d:port" of the sender connected now, empty when none (for the overlay).
std::string CurrentSenderAddress();

}  // namespace orrin
