#include "net/websocket/frame_writer.h"

#include "net/websocket/frame_parser.h"

namespace orrin {

ByteBuffer EncodeFrameHeader(uint8_t opcode, bool fin, uint64_t size,
                             const std::optional<std::array<uint8_t, 4>>& maskKey) {
  ByteBuffer header;
  header.reserve(14);
  header.push_back(static_cast<uint8_t>((fin ? 0x80 : 0x00) | (opcode & 0x0F)));
  uint8_t maskBit = maskKey ? 0x80 : 0x00;
  if (size < 126) {
    header.push_back(static_cast<uint8_t>(maskBit | size));
  } else if (size < 65536) {
    header.push_back(maskBit | 126);
    header.push_back(static_cast<uint8_t>(size >> 8));
    header.push_back(static_cast<uint8_t>(size));
  } else {
    header.push_back(maskBit | 127);
    for (int shift = 56; shift >= 0; shift -= 8) header.push_back(static_cast<uint8_t>(size >> shift));
  }
  if (maskKey) header.insert(header.end(), maskKey->begin(), maskKey->end());
  return header;
}

ByteBuffer EncodeFrame(uint8_t opcode, bool fin, const uint8_t* payload, size_t size,
                       const std::optional<std::array<uint8_t, 4>>& maskKey) {
  ByteBuffer frame = EncodeFrameHeader(opcode, fin, size, maskKey);
  size_t start = frame.size();
  frame.insert(frame.end(), payload, payload + size);
  if (maskKey) UnmaskInPlace(frame.data() + start, size, *maskKey);  // XOR masks and unmasks alike
  return frame;
}

ByteBuffer CloseReplyPayload(const ByteBuffer& received) {
  uint16_t code = 1000;
  if (received.size() == 1) {
    code = 1002;
  } else if (received.size() >= 2) {
    code = static_cast<uint16_t>(received[0] << 8 | received[1]);
    const bool sendable = (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) ||
                          (code >= 3000 && code <= 4999);
    if (!sendable) code = 1002;
  }
  return {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code & 0xFF)};
}

}  // namespace orrin
