#include "net/discovery/discovery_protocol.h"

namespace orrin {

bool IsDiscoveryRequest(std::string_view received) {
  std::string_view text = received.substr(0, received.find('\0'));
  return text == DISCOVERY_REQUEST || text == ANDROID_DISCOVERY_REQUEST;
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
