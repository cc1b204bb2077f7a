#pragma once

// What each platform reads of this machine for host_identity.cpp, which makes the choices.

#include <string>
#include <vector>

#include "support/host_identity.h"

namespace orrin {

// The machine's name as the platform keeps it; empty when it cannot be read.
std::string ReadComputerName();

// IPv4 addresses of the interfaces that are up, in the platform's interface order.
std::vector<InterfaceAddress> ListInterfaceAddresses();

// The name (as in ListInterfaceAddresses) of the interface with the default route; empty
// when none is known.
std::string ReadDefaultRouteInterface();

// The host name's IPv4 addresses in resolver order (may wait for a DNS time-out).
std::vector<std::string> ResolverAddresses();

}  // namespace orrin
