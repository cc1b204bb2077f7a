#include "probe_client.h"

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

bool ReadableBefore(SocketHandle fd, std::chrono::steady_clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  return WaitReadable(fd, static_cast<int>(left.count())) > 0;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

UdpProbeClient::UdpProbeClient(int port) : socket(OpenSocket(SOCK_DGRAM)), target(Loopback(port)) {
  sockaddr_in local = Loopback(0);
  ::bind(socket.Fd(), reinterpret_cast<sockaddr*>(&local), sizeof local);
  localPort = BoundPort(socket.Fd());
}

void UdpProbeClient::Send(const std::string& bytes) const {
  SendDatagram(socket.Fd(), bytes.data(), bytes.size(), target);
}

std::optional<UdpProbeClient::Reply> UdpProbeClient::Receive(std::chrono::milliseconds timeout) const {
  if (!ReadableBefore(socket.Fd(), std::chrono::steady_clock::now() + timeout)) return std::nullopt;
  char buffer[65536];
  sockaddr_in from{};
  in_addr local{};
  long n = ReceiveDatagram(socket.Fd(), buffer, sizeof buffer, from, local);
  if (n < 0) return std::nullopt;
  return Reply{std::string(buffer, static_cast<size_t>(n)), ntohs(from.sin_port)};
}

Socket ConnectTcp(int port) {
  Socket s(OpenSocket(SOCK_STREAM));
  sockaddr_in address = Loopback(port);
  if (::connect(s.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) s.Close();
  return s;
}

TcpOutcome ReadUntilClosed(const Socket& socket, std::chrono::milliseconds timeout) {
  TcpOutcome outcome;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[4096];
  while (ReadableBefore(socket.Fd(), deadline)) {
    // Readable: this receive does not block.
    long n = ReceiveOnce(socket.Fd(), buffer, sizeof buffer);
    if (n > 0) {
      outcome.received.append(buffer, static_cast<size_t>(n));
      continue;
    }
    // 0 is the orderly close; a reset (or any failure once readable) is a close too, as far
    // as the sender is concerned.
    outcome.closedByPeer = true;
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
  Socket s(OpenSocket(type));
  if (reuseAddress) AllowQuickRebind(s.Fd());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(s.Fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) s.Close();
  if (s.Valid() && type == SOCK_STREAM && ::listen(s.Fd(), 4) != 0) s.Close();
  return s;
}

}  // namespace orrin::test
