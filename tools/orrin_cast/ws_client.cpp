#include "ws_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "deadline.h"
#include "net/websocket/frame_parser.h"
#include "net/websocket/frame_writer.h"
#include "net/websocket/handshake.h"

namespace orrin::cast {
namespace {

// Connects with a deadline (a blocking connect to an unreachable host can hang for minutes).
SocketHandle ConnectTo(const addrinfo& target, Clock::time_point deadline, std::string& detail) {
  SocketHandle fd = OpenSocket(SOCK_STREAM);
  if (fd == INVALID_SOCKET_HANDLE) {
    detail = "socket: " + SocketErrorText(LastSocketError());
    return INVALID_SOCKET_HANDLE;
  }
  Socket owned(fd);
  if (int error = ConnectWithin(fd, target.ai_addr, static_cast<socklen_t>(target.ai_addrlen), RemainingMs(deadline));
      error != 0) {
    detail = SocketErrorText(error);
    return INVALID_SOCKET_HANDLE;
  }
  return owned.Release();
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The value of a response header, matched without regard to case as HTTP allows.
std::string HeaderValue(const std::string& response, const std::string& name) {
  std::string lower = Lower(response);
  size_t at = lower.find("\r\n" + Lower(name) + ":");
  if (at == std::string::npos) return "";
  size_t start = at + 3 + name.size();
  size_t end = response.find("\r\n", start);
  std::string value = response.substr(start, end - start);
  value.erase(0, value.find_first_not_of(" \t"));
  value.erase(value.find_last_not_of(" \t") + 1);
  return value;
}

}  // namespace

ByteBuffer MakeCastMessage(uint8_t type, uint32_t timestamp, const ByteBuffer& content) {
  ByteBuffer message;
  message.reserve(5 + content.size());
  message.push_back(type);
  for (int shift = 24; shift >= 0; shift -= 8) message.push_back(static_cast<uint8_t>(timestamp >> shift));
  message.insert(message.end(), content.begin(), content.end());
  return message;
}

WsClient::Status WsClient::Connect(const std::string& host, int port, double timeoutSeconds, std::string& detail) {
  auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(timeoutSeconds * 1000));
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list); rc != 0) {
    detail = "could not connect to " + host + ":" + std::to_string(port) + ": " + gai_strerror(rc);
    return Status::ConnectFailed;
  }
  SocketHandle fd = INVALID_SOCKET_HANDLE;
  std::string why;
  for (addrinfo* a = list; a != nullptr && fd == INVALID_SOCKET_HANDLE; a = a->ai_next) fd = ConnectTo(*a, deadline, why);
  freeaddrinfo(list);
  if (fd == INVALID_SOCKET_HANDLE) {
    detail = "could not connect to " + host + ":" + std::to_string(port) + ": " + why;
    return Status::ConnectFailed;
  }
  socket_ = Socket(fd);
  SetIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);

  uint8_t nonce[16];
  for (uint8_t& b : nonce) b = static_cast<uint8_t>(random_());
  std::string key = Base64Encode(ByteBuffer(nonce, nonce + sizeof nonce));
  std::string request = "GET / HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
                        "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + key +
                        "\r\nSec-WebSocket-Version: 13\r\n\r\n";
  if (SendOnce(fd, request.data(), request.size()) != static_cast<long>(request.size())) {
    detail = "the receiver closed the connection during the handshake";
    return Status::HandshakeRefused;
  }

  // Read byte by byte up to the blank line, so no frame byte after it is taken.
  std::string response;
  while (response.size() < 8192 && response.find("\r\n\r\n") == std::string::npos) {
    if (WaitReadable(fd, RemainingMs(deadline)) != 1) {
      detail = "no handshake answer from the receiver within " + std::to_string(timeoutSeconds) + " s";
      return Status::HandshakeRefused;
    }
    char c;
    if (ReceiveOnce(fd, &c, 1) != 1) {
      detail = "the receiver closed the connection during the handshake";
      return Status::HandshakeRefused;
    }
    response.push_back(c);
  }
  if (response.rfind("HTTP/1.1 101", 0) != 0) {
    detail = "handshake refused: " + response.substr(0, response.find("\r\n"));
    return Status::HandshakeRefused;
  }
  std::string accept = HeaderValue(response, "Sec-WebSocket-Accept");
  if (accept != AcceptKeyFor(key)) {
    detail = "handshake refused: wrong Sec-WebSocket-Accept \"" + accept + "\"";
    return Status::HandshakeRefused;
  }
  return Status::Ok;
}

WsClient::Status WsClient::SendFrame(uint8_t opcode, bool fin, const uint8_t* data, size_t size, std::string& detail) {
  // A fresh key for every frame, as RFC 6455 asks of clients.
  std::array<uint8_t, 4> key;
  uint32_t r = random_();
  std::memcpy(key.data(), &r, 4);
  frame_ = EncodeFrame(opcode, fin, data, size, key);
  size_t sent = 0;
  while (sent < frame_.size()) {
    long n = SendOnce(socket_.Fd(), frame_.data() + sent, frame_.size() - sent);
    if (n <= 0) {
      detail = SocketErrorText(LastSocketError());
      return Status::ConnectionLost;
    }
    sent += static_cast<size_t>(n);
  }
  return Status::Ok;
}

WsClient::Status WsClient::SendMessage(const ByteBuffer& payload, int fragments, std::string& detail) {
  size_t count = static_cast<size_t>(std::max(1, fragments));
  size_t piece = (payload.size() + count - 1) / count;
  if (piece == 0) return SendFrame(WS_OPCODE_BINARY, true, payload.data(), 0, detail);
  size_t offset = 0;
  for (size_t i = 0; offset < payload.size(); ++i) {
    size_t size = std::min(piece, payload.size() - offset);
    bool last = offset + size == payload.size();
    Status s = SendFrame(i == 0 ? WS_OPCODE_BINARY : WS_OPCODE_CONTINUATION, last, payload.data() + offset, size, detail);
    if (s != Status::Ok) return s;
    offset += size;
  }
  return Status::Ok;
}

WsClient::Status WsClient::SendPing(const ByteBuffer& payload, std::string& detail) {
  return SendFrame(WS_OPCODE_PING, true, payload.data(), payload.size(), detail);
}

WsClient::Status WsClient::SendClose(std::string& detail) {
  const uint8_t normalClosure[2] = {0x03, 0xE8};  // 1000
  return SendFrame(WS_OPCODE_CLOSE, true, normalClosure, sizeof normalClosure, detail);
}

bool WsClient::WaitForPong(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  FrameParser parser;
  while (true) {
    if (WaitReadable(socket_.Fd(), RemainingMs(deadline)) != 1) return false;
    std::span<uint8_t> space = parser.Space();
    long n = ReceiveOnce(socket_.Fd(), space.data(), space.size());
    if (n <= 0) return false;
    FrameEvent event = parser.Advance(static_cast<size_t>(n));
    if (event.kind == FrameEventKind::Ignored && event.opcode == WS_OPCODE_PONG) return true;
    if (parser.Failed()) return false;
  }
}

bool WsClient::PeerClosed() { return PeerHasClosed(socket_.Fd()); }

bool WsClient::WaitForPeerClose(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (PeerClosed()) return true;
    WaitReadable(socket_.Fd(), std::min(RemainingMs(deadline), 100));
  }
  return false;
}

}  // namespace orrin::cast
