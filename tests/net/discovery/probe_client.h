#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "net/socket.h"

namespace orrin::test {

// Live threads of this process, from /proc/self/status (Linux builds only).
int ThreadCount();
// The count before the code under test starts threads. A thread is started and joined
// first, because a sanitizer runtime starts its own helper thread with the first one.
int BaselineThreadCount();

// Polls `condition` every few milliseconds until it holds or `timeout` passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A UDP socket on 127.0.0.1 that sends probes to 127.0.0.1:`port`, as a sender would.
class UdpProbeClient {
 public:
  explicit UdpProbeClient(int port);
  int LocalPort() const { return localPort; }
  std::string LocalAddress() const { return "127.0.0.1:" + std::to_string(localPort); }
  void Send(const std::string& bytes) const;
  struct Reply {
    std::string bytes;
    int sourcePort;
  };
  // The next datagram, or nothing after `timeout`.
  std::optional<Reply> Receive(std::chrono::milliseconds timeout) const;

 private:
  Socket socket;
  sockaddr_in target{};
  int localPort = 0;
};

// Connects to 127.0.0.1:`port`; invalid socket when refused.
Socket ConnectTcp(int port);

// What a TCP client saw: the bytes until the receiver closed, and whether it did close
// (false: `timeout` ran out first).
struct TcpOutcome {
  std::string received;
  bool closedByPeer = false;
};
TcpOutcome ReadUntilClosed(const Socket& socket, std::chrono::milliseconds timeout);

// Connect, send `request` (nothing when empty), read until the receiver closes.
TcpOutcome TcpExchange(int port, const std::string& request,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Waits until the UDP listener answers a probe (true) or `timeout` passes.
bool WaitForUdpService(std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Waits until the TCP listener answers a probe.
bool WaitForTcpService(std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Binds a socket to 0.0.0.0:`port` the way another program would (no address reuse for
// UDP, which our listener would otherwise share the port with; TCP also listens).
Socket OccupyPort(int type, int port, bool reuseAddress = false);

}  // namespace orrin::test
