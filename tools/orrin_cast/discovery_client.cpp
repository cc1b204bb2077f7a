#include "discovery_client.h"

#include <chrono>
#include <cstring>

#include "deadline.h"
#include "net/discovery/discovery_protocol.h"
#include "net/socket.h"

namespace orrin::cast {
namespace {

bool Resolve(const std::string& address, uint16_t port, sockaddr_in& out) {
  out = {};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  return inet_pton(AF_INET, address.c_str(), &out.sin_addr) == 1;
}

void AddDistinct(std::vector<ReceiverInfo>& found, const std::string& text) {
  auto info = ParseDiscoveryResponse(text);
  if (!info) return;
  for (const ReceiverInfo& known : found) {
    if (known == *info) return;
  }
  found.push_back(*info);
}

constexpr std::string_view PROBES[] = {DISCOVERY_REQUEST, ANDROID_DISCOVERY_REQUEST};

std::vector<ReceiverInfo> DiscoverUdp(const sockaddr_in& target, Clock::time_point deadline, std::string& error) {
  std::vector<ReceiverInfo> found;
  Socket s(OpenSocket(SOCK_DGRAM));
  SetIntOption(s.Fd(), SOL_SOCKET, SO_BROADCAST, 1);
  for (std::string_view probe : PROBES) {
    if (SendDatagram(s.Fd(), probe.data(), probe.size(), target) < 0) {
      error = "could not send the probe: " + SocketErrorText(LastSocketError());
      return found;
    }
  }
  char buffer[2048];
  while (true) {
    if (WaitReadable(s.Fd(), RemainingMs(deadline)) <= 0) break;
    long n = ReceiveOnce(s.Fd(), buffer, sizeof buffer);
    if (n > 0) AddDistinct(found, std::string(buffer, static_cast<size_t>(n)));
  }
  return found;
}

std::vector<ReceiverInfo> DiscoverTcp(const sockaddr_in& target, Clock::time_point deadline, std::string& error) {
  std::vector<ReceiverInfo> found;
  for (std::string_view probe : PROBES) {
    Socket s(OpenSocket(SOCK_STREAM));
    if (::connect(s.Fd(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
      error = "could not connect to the TCP discovery port: " + SocketErrorText(LastSocketError());
      return found;
    }
    SendOnce(s.Fd(), probe.data(), probe.size());
    std::string answer;
    char buffer[2048];
    while (true) {
      if (WaitReadable(s.Fd(), RemainingMs(deadline)) <= 0) break;
      long n = ReceiveOnce(s.Fd(), buffer, sizeof buffer);
      if (n <= 0) break;  // the receiver closes after its one answer
      answer.append(buffer, static_cast<size_t>(n));
    }
    AddDistinct(found, answer);
  }
  return found;
}

}  // namespace

std::optional<ReceiverInfo> ParseDiscoveryResponse(const std::string& text) {
  const std::string prefix = std::string(DISCOVERY_RESPONSE_PREFIX) + "NAME=";
  if (text.rfind(prefix, 0) != 0) return std::nullopt;
  size_t ip = text.rfind(";IP=");
  size_t port = text.find(";PORT=", ip == std::string::npos ? 0 : ip);
  if (ip == std::string::npos || ip < prefix.size() || port == std::string::npos) return std::nullopt;
  ReceiverInfo info;
  info.name = text.substr(prefix.size(), ip - prefix.size());
  info.ip = text.substr(ip + 4, port - ip - 4);
  size_t portEnd = text.find(';', port + 6);
  std::string portText = text.substr(port + 6, portEnd == std::string::npos ? std::string::npos : portEnd - port - 6);
  try {
    size_t used = 0;
    info.port = std::stoi(portText, &used);
    if (used != portText.size() || info.port < 1 || info.port > 65535) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return info;
}

std::vector<ReceiverInfo> Discover(const std::string& address, bool tcp, double timeoutSeconds, std::string& error) {
  sockaddr_in target{};
  if (!Resolve(address, static_cast<uint16_t>(tcp ? DISCOVERY_TCP_PORT : DISCOVERY_UDP_PORT), target)) {
    error = "not an IPv4 address: " + address;
    return {};
  }
  auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(timeoutSeconds * 1000));
  return tcp ? DiscoverTcp(target, deadline, error) : DiscoverUdp(target, deadline, error);
}

}  // namespace orrin::cast
