#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "support/bytes.h"

namespace orrin {

// The largest message we take (5 MiB): it bounds every allocation a sender can cause.
inline constexpr uint64_t MAX_FRAME_PAYLOAD = 5242880;

enum class FrameStep { Header, ExtendedLength, MaskKey, Payload };

enum class FrameEventKind {
  NeedMore,  // the frame is not complete yet
  Message,   // a whole binary message (one frame, or reassembled fragments)
  Ping,      // a ping; `payload` is what the pong must carry
  Close,     // the sender closes the connection
  Ignored,   // a frame we do not act on: text, pong, reserved opcode, stray continuation
  TooLarge,  // the message would exceed MAX_FRAME_PAYLOAD; the parser stops here
};

struct FrameEvent {
  FrameEventKind kind = FrameEventKind::NeedMore;
  uint8_t opcode = 0;    // of the frame that completed (0 for NeedMore)
  ByteBuffer payload;    // Message: the unmasked message; Ping: the unmasked ping payload
  uint64_t size = 0;     // TooLarge: the size the message would have had
  // A fragmented binary message that never got its final frame is dropped when a new data
  // frame starts; this many bytes were lost (reported with whatever event comes along).
  uint64_t abandonedBytes = 0;
};

// Reads WebSocket frames (RFC 6455 section 5.2) from a byte stream, without knowing where the
// bytes come from. The caller asks for Space(), fills some or all of it, and calls Advance
// with the count. Space() never reaches past the current step of the current frame, so a
// socket reader never takes bytes of the next frame, and a pause in the middle of a frame
// (a receive time-out) simply resumes where it stopped.
//
// Binary messages split into fragments are reassembled: the payload of every fragment goes
// straight into the message buffer, and the size limit covers the whole message; it is
// checked as soon as a frame's length is known, before anything is allocated for it.
class FrameParser {
 public:
  FrameParser();

  std::span<uint8_t> Space();
  FrameEvent Advance(size_t count);

  FrameStep Step() const { return step_; }
  bool Failed() const { return failed_; }

  // Feeds a block of bytes and reports every event other than NeedMore. Returns the number
  // of bytes taken (fewer than `size` only once the parser has failed).
  size_t Feed(const uint8_t* data, size_t size, const std::function<void(FrameEvent&)>& onEvent);

 private:
  enum class Sink { Message, Control, Discard };

  FrameEvent HeaderDone();
  FrameEvent LengthKnown();
  FrameEvent StartPayload();
  FrameEvent FinishFrame();
  void AbandonMessage();

  FrameStep step_ = FrameStep::Header;
  size_t have_ = 0;  // bytes of the current header, length or mask step
  std::array<uint8_t, 2> header_{};
  std::array<uint8_t, 8> extLen_{};
  size_t extNeed_ = 0;
  std::array<uint8_t, 4> maskKey_{};

  uint8_t opcode_ = 0;
  bool fin_ = false;
  bool masked_ = false;
  uint64_t length_ = 0;
  uint64_t received_ = 0;
  Sink sink_ = Sink::Discard;

  ByteBuffer message_;         // binary message being assembled
  size_t frameStart_ = 0;      // where the current fragment begins in message_
  bool messageActive_ = false; // a binary message awaits continuation frames
  bool textActive_ = false;    // a text message awaits continuation frames (all dropped)
  ByteBuffer control_;         // payload of the current ping or close frame
  ByteBuffer scratch_;         // landing place for payloads we drop
  uint64_t abandoned_ = 0;
  bool failed_ = false;
};

// data[i] ^= key[i % 4], eight bytes at a time where the buffer allows it.
void UnmaskInPlace(uint8_t* data, size_t size, const std::array<uint8_t, 4>& key);

}  // namespace orrin
