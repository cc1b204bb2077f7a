#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "support/bytes.h"

namespace orrin {

// The server's side of the WebSocket opening handshake, without sockets: what counts as a
// whole request, where the key is, and the exact response.

inline constexpr int HANDSHAKE_TIMEOUT_MS = 30000;
// At most this many request bytes are read (the request buffer keeps room for a zero byte).
inline constexpr size_t MAX_HANDSHAKE_REQUEST = 4095;
inline constexpr const char* WEBSOCKET_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

// True once the request is complete: its blank line has arrived or the buffer is full.
bool HandshakeRequestComplete(std::string_view received);

// The request as text: the received bytes up to the first zero byte.
std::string_view HandshakeRequestText(std::string_view received);

// "Received handshake request: " + the first 200 bytes of the request, escaped, + "...".
std::string HandshakeRequestLogLine(std::string_view request);

// "Extracted WebSocket-Key: " + the key, escaped; a key past 200 bytes is cut, with "...".
std::string KeyLogLine(std::string_view key);

enum class KeyStatus { Found, NotFound, InvalidFormat };
struct KeySearch {
  KeyStatus status = KeyStatus::NotFound;
  std::string key;
};

// Finds the value of "Sec-WebSocket-Key:" (case-sensitive, first occurrence): spaces and
// tabs after the colon are skipped; the value ends at the first CR, or else the first LF;
// trailing spaces stay part of it.
KeySearch ExtractWebSocketKey(std::string_view request);

// The 101 response for an accept value, byte for byte.
std::string BuildHandshakeResponse(const std::string& acceptKey);

// Base64(SHA-1(key + GUID)).
std::string AcceptKeyFor(const std::string& clientKey);

// SHA-1 of the bytes of `text`; 20 zero bytes when the digest cannot be computed.
ByteBuffer ComputeSHA1(std::string_view text);

// Standard Base64 without line breaks; empty for empty input or on failure.
std::string Base64Encode(const ByteBuffer& bytes);

}  // namespace orrin
