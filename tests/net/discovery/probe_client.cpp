#include "probe_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <fstream>
#include <thread>

#include "net/discovery/discovery_protocol.h"

namespace orrin::test {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "Threads:") {
      int n = 0;
      status >> n;
      return n;
    }
  }
  return -1;
}

int BaselineThreadCount() {
  std::thread([] {}).join();
  int count = -1;
  WaitUntil([&] {
    int before = ThreadCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    count = ThreadCount();
    return count == before;
  });
  return count;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

UdpProbeClient::UdpProbeClient(int port) : socket(::socket(AF_INET, SOCK_DGRAM, 0)), target(Loopback(port)) {
  sockaddr_in local = Loopback(0);
  ::bind(socket.Fd(), reinterpret_cast<sockaddr*>(&local), sizeof local);
  socklen_t length = sizeof local;
  ::getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&local), &length);
  localPort = ntohs(local.sin_port);
}

void UdpProbeClient::Send(const std::string& bytes) const {
  ::sendto(socket.Fd(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&target),
           sizeof target);
}

std::optional<UdpProbeClient::Reply> UdpProbeClient::Receive(std::chrono::milliseconds timeout) const {
  if (!WaitReadable(socket.Fd(), std::chrono::steady_clock::now() + timeout)) return std::nullopt;
  char buffer[65536];
  sockaddr_in from{};
  socklen_t length = sizeof from;
  ssize_t n = ::recvfrom(socket.Fd(), buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                         &length);
  if (n < 0) return std::nullopt;
  return Reply{std::string(buffer, static_cast<size_t>(n)), ntohs(from.sin_port)};
}

Socket ConnectTcp(int port) {
  Socket s(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address = Loopback(port);
  if (::connect(s.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) s.Close();
  return s;
}

TcpOutcome ReadUntilClosed(const Socket& socket, std::chrono::milliseconds timeout) {
  TcpOutcome outcome;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  while (WaitReadable(socket.Fd(), deadline)) {
    ssize_t n = ::recv(socket.Fd(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      outcome.received.append(buffer, static_cast<size_t>(n));
      continue;
    }
    // 0 is the orderly close; a reset is a close too, as far as the sender is concerned.
    outcome.closedByPeer = n == 0 || errno == ECONNRESET;
    break;
  }
  return outcome;
}

TcpOutcome TcpExchange(int port, const std::string& request, std::chrono::milliseconds timeout) {
  Socket s = ConnectTcp(port);
  if (!s.Valid()) return {};
  if (!request.empty()) SendOnce(s.Fd(), request.data(), request.size());
  return ReadUntilClosed(s, timeout);
}

bool WaitForUdpService(std::chrono::milliseconds timeout) {
  UdpProbeClient client(DISCOVERY_UDP_PORT);
  return WaitUntil(
      [&] {
        client.Send(std::string(DISCOVERY_REQUEST));
        return client.Receive(std::chrono::milliseconds(100)).has_value();
      },
      timeout);
}

bool WaitForTcpService(std::chrono::milliseconds timeout) {
  // A whole exchange, not just a connect: when it returns, the reply thread it caused is
  // already at its end, so thread counts taken afterwards are not disturbed by it.
  return WaitUntil(
      [] { return !TcpExchange(DISCOVERY_TCP_PORT, std::string(DISCOVERY_REQUEST)).received.empty(); },
      timeout);
}

Socket OccupyPort(int type, int port, bool reuseAddress) {
  Socket s(::socket(AF_INET, type, 0));
  if (reuseAddress) SetIntOption(s.Fd(), SOL_SOCKET, SO_REUSEADDR, 1);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(s.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) s.Close();
  if (s.Valid() && type == SOCK_STREAM && ::listen(s.Fd(), 4) != 0) s.Close();
  return s;
}

}  // namespace orrin::test
