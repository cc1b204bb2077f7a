#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "support/bytes.h"

namespace orrin {

inline constexpr uint8_t WS_OPCODE_CONTINUATION = 0x0;
inline constexpr uint8_t WS_OPCODE_TEXT = 0x1;
inline constexpr uint8_t WS_OPCODE_BINARY = 0x2;
inline constexpr uint8_t WS_OPCODE_CLOSE = 0x8;
inline constexpr uint8_t WS_OPCODE_PING = 0x9;
inline constexpr uint8_t WS_OPCODE_PONG = 0xA;

// One WebSocket frame: FIN and opcode, the shortest length form (7-bit, 16-bit or 64-bit,
// big-endian), and, when a key is given, the MASK bit, the key and the masked payload.
// Servers send unmasked frames; clients (our sender and tests) mask theirs.
ByteBuffer EncodeFrame(uint8_t opcode, bool fin, const uint8_t* payload, size_t size,
                       const std::optional<std::array<uint8_t, 4>>& maskKey = std::nullopt);

inline ByteBuffer EncodeFrame(uint8_t opcode, bool fin, const ByteBuffer& payload,
                              const std::optional<std::array<uint8_t, 4>>& maskKey = std::nullopt) {
  return EncodeFrame(opcode, fin, payload.data(), payload.size(), maskKey);
}

// Only the header (everything before the payload) of such a frame.
ByteBuffer EncodeFrameHeader(uint8_t opcode, bool fin, uint64_t size,
                             const std::optional<std::array<uint8_t, 4>>& maskKey = std::nullopt);

// The payload of our answer to a sender's close frame: its status code echoed (the first
// two bytes of `received`, big-endian), 1000 when it gave none. A code that may not appear
// on the wire (below 1000, 1004-1006, 1015, unassigned ones below 3000, 5000 and up) or a
// one-byte payload is a protocol error: 1002.
ByteBuffer CloseReplyPayload(const ByteBuffer& received);

}  // namespace orrin
