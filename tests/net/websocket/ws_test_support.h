#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/socket.h"
#include "support/bytes.h"

namespace orrin::test {

using namespace std::chrono_literals;

// The RFC 6455 example key and its accept value.
inline const std::string SAMPLE_KEY = "dGhlIHNhbXBsZSBub25jZQ==";
inline const std::string SAMPLE_ACCEPT = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

std::string UpgradeRequest(const std::string& keyLine = "Sec-WebSocket-Key: " + SAMPLE_KEY + "\r\n");

// A masked client frame (key 12 34 56 78) and a cast message (type, time stamp, content).
ByteBuffer ClientFrame(uint8_t opcode, bool fin, const ByteBuffer& payload);
ByteBuffer CastMessage(uint8_t type, uint32_t timestamp, const ByteBuffer& content);
ByteBuffer Pattern(size_t size);

// A plain TCP client on 127.0.0.1.
class RawClient {
 public:
  explicit RawClient(int port);
  bool Connected() const { return connected_; }
  int LocalPort() const { return localPort_; }
  bool Send(const std::string& bytes);
  bool Send(const ByteBuffer& bytes);
  void ShutdownWrite();
  // Closes with a reset (RST) instead of an orderly FIN, as a crashed or killed sender does.
  void Reset();
  // Reads until `size` bytes arrived (fewer on time-out or close).
  ByteBuffer Read(size_t size, std::chrono::milliseconds timeout = 5s);
  // Reads up to and including the blank line.
  std::string ReadResponseHead(std::chrono::milliseconds timeout = 5s);
  // Sends an upgrade request and checks for the 101 response.
  bool Handshake();
  // True when the server closed the connection (EOF or reset) within the time.
  bool WaitClosed(std::chrono::milliseconds timeout = 5s);

 private:
  Socket socket_;
  bool connected_ = false;
  int localPort_ = 0;
};

// Records connection notifications.
class ConnectionLog {
 public:
  void operator()(bool connected, const std::string& info);
  std::vector<std::pair<bool, std::string>> Events() const;
  bool WaitForCount(size_t count, std::chrono::milliseconds timeout = 10s) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::pair<bool, std::string>> events_;
};

// Records the buffers a frame callback receives.
class FrameLog {
 public:
  void operator()(const ByteBuffer& frame);
  std::vector<ByteBuffer> Frames() const;
  bool WaitForCount(size_t count, std::chrono::milliseconds timeout = 10s) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ByteBuffer> frames_;
};

// Open descriptors and threads of this process, from /proc/self (Linux builds only).
int OpenDescriptorCount();
int ThreadCount();
// The thread count to compare against later: a thread is started and joined first, so that
// helpers a runtime starts with the first thread (ThreadSanitizer's background thread) are
// already counted.
int BaselineThreadCount();
// Polls `condition` until it holds or the time is up.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = 5s) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

}  // namespace orrin::test
