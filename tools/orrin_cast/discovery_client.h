#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orrin::cast {

struct ReceiverInfo {
  std::string name;
  std::string ip;
  int port = 0;
  bool operator==(const ReceiverInfo&) const = default;
};

// Reads "MIRALUX_RESPONSE:NAME=…;IP=…;PORT=…;TYPE=…;VERSION=…". The name is taken as
// everything between "NAME=" and the last ";IP=", since receivers do not escape it.
std::optional<ReceiverInfo> ParseDiscoveryResponse(const std::string& text);

// Sends both probe texts and collects distinct answers until the time-out.
// UDP: to `address`:8888 (broadcast allowed). TCP: one connection per probe to `address`:8889.
// `error` is set when the probe could not be sent at all.
std::vector<ReceiverInfo> Discover(const std::string& address, bool tcp, double timeoutSeconds, std::string& error);

}  // namespace orrin::cast
