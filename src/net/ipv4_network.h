#pragma once

#include "net/socket_platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orrin {

// One IPv4 network, a.b.c.d/len, in host byte order.
struct Ipv4Network {
  uint32_t address = 0;  // already masked
  uint32_t mask = 0;
};

// "CIDR[,CIDR...]": each a dotted address with an optional /0..32 (none: one host). Null
// with `error` set for anything else; an empty list is an error too.
std::optional<std::vector<Ipv4Network>> ParseNetworkList(std::string_view text, std::string& error);

// Whether `source` (network byte order) lies in one of `networks`; an empty list allows all.
bool IsAllowedSource(const std::vector<Ipv4Network>& networks, const in_addr& source);

}  // namespace orrin
