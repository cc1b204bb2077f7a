#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orrin {

// The machine's short name: the host name up to its first '.', at most 15 characters.
// "Windows-PC" when it cannot be read. Asked anew on every call.
std::string GetLocalComputerName();

// The IPv4 address a sender on the LAN can reach us at: the first address that is not
// loopback among the addresses of the interfaces that are up (the one carrying the default
// route first, then the rest in interface order), then among the host name's addresses
// in resolver order; "127.0.0.1" when there is none. Asked anew on every call. The
// resolver is consulted only when no interface has a usable address, and it may wait for
// a DNS time-out: call this from network threads, not from the window's.
std::string GetLocalIPAddress();

// The same choice from the interfaces alone: never waits for a resolver, so the window may
// call it while it paints.
std::string GetInterfaceIPAddress();

// One IPv4 address of an interface that is up, as the platform lists them.
struct InterfaceAddress {
  std::string interfaceName;
  std::string address;  // dotted decimal
};

// The pure parts of the choices above, testable without this machine's network.
std::string ShortComputerName(const std::string& hostName);
bool IsLoopbackAddress(const std::string& dottedAddress);
// Interface addresses with those of `defaultRouteInterface` first, the rest in their order.
std::vector<std::string> OrderInterfaceAddresses(const std::vector<InterfaceAddress>& interfaces,
                                                 const std::string& defaultRouteInterface);
// The first candidate outside 127.0.0.0/8; "127.0.0.1" when there is none.
std::string ChooseLocalIPAddress(const std::vector<std::string>& candidates);
// The broadcast address (network byte order) of the network `address` (network byte order)
// is on, from its prefix length: every host bit set. 0 for a /0, /31 or /32, which have none.
uint32_t DirectedBroadcast(uint32_t address, unsigned prefixLength);
// The interface of the default route in the text of /proc/net/route; empty when none.
std::string DefaultRouteInterface(const std::string& routeTable);

// Broadcast addresses of the interfaces that are up (network byte order): a datagram
// whose source is one of them was not sent by a host that can take an answer.
std::vector<uint32_t> LocalBroadcastAddresses();

}  // namespace orrin
