#include "ws_test_support.h"

#include "net/websocket/frame_writer.h"

namespace orrin::test {

std::string UpgradeRequest(const std::string& keyLine) {
  return "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" + keyLine +
         "Sec-WebSocket-Version: 13\r\n\r\n";
}

ByteBuffer ClientFrame(uint8_t opcode, bool fin, const ByteBuffer& payload) {
  return EncodeFrame(opcode, fin, payload, std::array<uint8_t, 4>{0x12, 0x34, 0x56, 0x78});
}

ByteBuffer CastMessage(uint8_t type, uint32_t timestamp, const ByteBuffer& content) {
  ByteBuffer message(5 + content.size());
  message[0] = type;
  for (int i = 0; i < 4; ++i) message[1 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
  std::copy(content.begin(), content.end(), message.begin() + 5);
  return message;
}

ByteBuffer Pattern(size_t size) {
  ByteBuffer bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

RawClient::RawClient(int port) : socket_(OpenSocket(SOCK_STREAM)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  connected_ = ::connect(socket_.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (connected_) localPort_ = BoundPort(socket_.Fd());
}

bool RawClient::Send(const std::string& bytes) { return Send(ByteBuffer(bytes.begin(), bytes.end())); }

bool RawClient::Send(const ByteBuffer& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    long n = SendOnce(socket_.Fd(), bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void RawClient::ShutdownWrite() {
  constexpr int SENDING = 1;  // SHUT_WR, SD_SEND
  ::shutdown(socket_.Fd(), SENDING);
}

void RawClient::Reset() {
  linger abort{1, 0};  // zero linger time: close sends RST and drops unsent data
  ::setsockopt(socket_.Fd(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
  socket_.Close();
  connected_ = false;
}

ByteBuffer RawClient::Read(size_t size, std::chrono::milliseconds timeout) {
  ByteBuffer bytes;
  auto end = std::chrono::steady_clock::now() + timeout;
  while (bytes.size() < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || WaitReadable(socket_.Fd(), static_cast<int>(left.count())) <= 0) break;
    uint8_t chunk[4096];
    long n = ReceiveOnce(socket_.Fd(), chunk, std::min(sizeof chunk, size - bytes.size()));
    if (n <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

std::string RawClient::ReadResponseHead(std::chrono::milliseconds timeout) {
  std::string head;
  auto end = std::chrono::steady_clock::now() + timeout;
  while (head.find("\r\n\r\n") == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    ByteBuffer one = Read(1, left);
    if (one.empty()) break;
    head.push_back(static_cast<char>(one[0]));
  }
  return head;
}

bool RawClient::Handshake() {
  return Send(UpgradeRequest()) && ReadResponseHead().rfind("HTTP/1.1 101 Switching Protocols\r\n", 0) == 0;
}

bool RawClient::WaitClosed(std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || WaitReadable(socket_.Fd(), static_cast<int>(left.count())) <= 0) return false;
    uint8_t chunk[4096];
    long n = ReceiveOnce(socket_.Fd(), chunk, sizeof chunk);
    if (n <= 0) return true;
  }
}

void ConnectionLog::operator()(bool connected, const std::string& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.emplace_back(connected, info);
  changed_.notify_all();
}

std::vector<std::pair<bool, std::string>> ConnectionLog::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

bool ConnectionLog::WaitForCount(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
}

void FrameLog::operator()(const ByteBuffer& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  frames_.push_back(frame);
  changed_.notify_all();
}

std::vector<ByteBuffer> FrameLog::Frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

bool FrameLog::WaitForCount(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

}  // namespace orrin::test
