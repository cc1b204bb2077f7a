#pragma once

#include <string>
#include <vector>

namespace orrin {

// The machine's short name: the host name up to its first '.', at most 15 characters.
// "Windows-PC" when it cannot be read. Asked anew on every call.
std::string GetLocalComputerName();

// The IPv4 address a sender on the LAN can reach us at: the first address of the host
// name, in resolver order, whose text is not exactly "127.0.0.1"; "127.0.0.1" when the
// name does not resolve or resolves to that address only. Asked anew on every call.
std::string GetLocalIPAddress();

// The two choices above as pure functions, so their rules are testable without the
// machine's own name and resolver.
std::string ShortComputerName(const std::string& hostName);
std::string ChooseLocalIPAddress(const std::vector<std::string>& addressesInResolverOrder);

}  // namespace orrin
