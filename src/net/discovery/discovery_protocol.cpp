#include "net/discovery/discovery_protocol.h"

namespace orrin {

bool IsDiscoveryRequest(std::string_view received) {
  std::string_view text = received.substr(0, received.find('\0'));
  return text == DISCOVERY_REQUEST || text == ANDROID_DISCOVERY_REQUEST;
}

bool IsAnswerableSource(const sockaddr_in& source, const std::vector<in_addr_t>& localBroadcasts) {
  constexpr uint16_t FIRST_UNPRIVILEGED_PORT = 1024;
  if (ntohs(source.sin_port) < FIRST_UNPRIVILEGED_PORT) return false;
  const uint32_t host = ntohl(source.sin_addr.s_addr);
  // 0.0.0.0/8 is "this network", 224.0.0.0/4 multicast, 240.0.0.0/4 reserved and the
  // limited broadcast 255.255.255.255: none is a host's own address.
  if ((host >> 24) == 0 || host >= 0xE0000000u) return false;
  for (in_addr_t broadcast : localBroadcasts) {
    if (broadcast == source.sin_addr.s_addr) return false;
  }
  return true;
}

std::string BuildDiscoveryResponse(const std::string& deviceName, const std::string& ipAddress, int port) {
  std::string response(DISCOVERY_RESPONSE_PREFIX);
  response += "NAME=";
  response += deviceName;
  response += ";IP=";
  response += ipAddress;
  response += ";PORT=";
  response += std::to_string(port);
  response += ";TYPE=Windows";
  response += ";VERSION=1.0";
  return response;
}

}  // namespace orrin
