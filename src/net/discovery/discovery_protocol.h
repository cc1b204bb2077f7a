#pragma once

#include "net/socket_platform.h"

#include <string>
#include <string_view>
#include <vector>

namespace orrin {

// Where senders look for us: a (usually broadcast) datagram to the UDP port, or a short
// TCP connection to the TCP port when the sender already knows our address.
constexpr int DISCOVERY_UDP_PORT = 8888;
constexpr int DISCOVERY_TCP_PORT = 8889;

inline constexpr std::string_view DISCOVERY_REQUEST = "MIRALUX_DISCOVERY";
inline constexpr std::string_view ANDROID_DISCOVERY_REQUEST = "ANDROID_TV_CAST_DISCOVERY";
inline constexpr std::string_view DISCOVERY_RESPONSE_PREFIX = "MIRALUX_RESPONSE:";

// One read takes at most DISCOVERY_BUFFER_SIZE - 1 bytes: a probe is a few dozen bytes,
// anything longer is not one.
constexpr size_t DISCOVERY_BUFFER_SIZE = 1024;
constexpr size_t DISCOVERY_MAX_READ = DISCOVERY_BUFFER_SIZE - 1;
constexpr int DISCOVERY_RECEIVE_TIMEOUT_MS = 1000;

// True when the bytes of one datagram (or of the first read on a TCP connection), taken up
// to the first NUL, are exactly one of the two probe texts. Senders in the field send the
// bare text, some with a trailing NUL; nothing is trimmed or case-folded, because a loose
// match would answer traffic that is not meant for us.
bool IsDiscoveryRequest(std::string_view received);

// Whether a probe from `source` may be answered: only a host that can take a unicast answer,
// from an unprivileged port. A broadcast or multicast source (forged: no host has it), or one
// of our networks' broadcast addresses in `localBroadcasts` (network byte order), would turn
// the answer into a broadcast; a source port below 1024 points the answer at a service
// (echo, chargen, DNS) instead of a sender. Both are how a reflector is made.
bool IsAnswerableSource(const sockaddr_in& source, const std::vector<in_addr_t>& localBroadcasts);

// "MIRALUX_RESPONSE:NAME=<name>;IP=<ip>;PORT=<port>;TYPE=Windows;VERSION=1.0", no NUL, no
// line end. The name goes out as it stands: senders split on ';' and '=' themselves.
// "TYPE=Windows" stays: senders may key on it.
std::string BuildDiscoveryResponse(const std::string& deviceName, const std::string& ipAddress, int port);

}  // namespace orrin
