#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "net/socket.h"
#include "support/bytes.h"

namespace orrin::cast {

// The client end of a cast link: connect, opening handshake, masked frames out.
class WsClient {
 public:
  enum class Status { Ok, ConnectFailed, HandshakeRefused, ConnectionLost };

  // Connects and performs the handshake; `detail` says what went wrong.
  Status Connect(const std::string& host, int port, double timeoutSeconds, std::string& detail);

  // Sends one binary message as `fragments` frames (first binary, then continuations).
  Status SendMessage(const ByteBuffer& payload, int fragments, std::string& detail);
  Status SendPing(const ByteBuffer& payload, std::string& detail);
  Status SendClose(std::string& detail);

  // Waits up to `timeoutMs` for a pong; true when one arrived. Other frames are skipped.
  bool WaitForPong(int timeoutMs);
  // True when the receiver closed the connection (checked without blocking).
  bool PeerClosed();
  // Waits up to `timeoutMs` for the receiver to close the connection.
  bool WaitForPeerClose(int timeoutMs);

 private:
  Status SendFrame(uint8_t opcode, bool fin, const uint8_t* data, size_t size, std::string& detail);

  Socket socket_;
  std::mt19937 random_{std::random_device{}()};
  ByteBuffer frame_;
};

// The message a cast sender puts in one binary frame: type, big-endian time stamp, content.
ByteBuffer MakeCastMessage(uint8_t type, uint32_t timestamp, const ByteBuffer& content);

}  // namespace orrin::cast
