#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/websocket/callbacks.h"
#include "support/bytes.h"
#include "support/log_thinning.h"

namespace orrin {

// Every binary message from a sender: 1 type byte, a 4-byte big-endian time stamp, content.
inline constexpr size_t CAST_HEADER_SIZE = 5;

enum class CastMessageType : uint8_t { Video = 0, Audio = 1, Config = 2, Status = 3 };

// The time stamp of a message of at least CAST_HEADER_SIZE bytes.
uint32_t CastTimestamp(const ByteBuffer& message);

// "%02X " for each of the first min(size, 20) bytes.
std::string CastHexDump(const ByteBuffer& message);

// The thinned log lines of cast messages, kept by whoever reads the messages (the server):
// progress by default about one line a second of each kind at 30 pictures and 50 sound
// frames a second, and what a sender can send at will that nothing plays, bounded whatever
// the rate.
struct CastMessageNotes {
  LogThinner videoProgress{30};
  LogThinner videoCallbackProgress{30};
  LogThinner audioProgress{50};
  LogThinner otherProgress{100};
  LogThinner tooSmall{100};
  LogThinner unplayedAudio{100};
  LogThinner configMessages{100};
  LogThinner statusMessages{100};
  LogThinner unknownTypes{100};
  LogThinner& ProgressOf(uint8_t type);
};

// Logs the message and hands video and audio content (the bytes after the header, copied
// once) to their callbacks; empty callbacks are skipped. Exceptions from a callback pass on.
void DispatchCastMessage(CastMessageNotes& notes, const ByteBuffer& message, const FrameCallback& videoCallback,
                         const FrameCallback& audioCallback);

}  // namespace orrin
