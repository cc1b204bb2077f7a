#include "support/windows_api.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <memory>
#include <string>
#include <vector>

#include "support/host_identity_platform.h"

namespace orrin {
namespace {

// The adapters Windows lists, IPv4 only; null when they cannot be read.
std::vector<unsigned char> ReadAdapters() {
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the call that sizes it and the one that fills it.
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET,
                                  GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                                      GAA_FLAG_SKIP_FRIENDLY_NAME,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR || size == 0) buffer.clear();
  return buffer;
}

template <typename Visit>
void ForEachUpAddress(const std::vector<unsigned char>& adapters, Visit visit) {
  if (adapters.empty()) return;
  for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(adapters.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      visit(*adapter, *unicast, reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    }
  }
}

std::string Dotted(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) return {};
  return text;
}

}  // namespace

std::string ReadComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return {};
  return std::string(name, size);
}

std::vector<InterfaceAddress> ListInterfaceAddresses() {
  std::vector<InterfaceAddress> found;
  ForEachUpAddress(ReadAdapters(), [&](const IP_ADAPTER_ADDRESSES& adapter, const IP_ADAPTER_UNICAST_ADDRESS&,
                                       const in_addr& address) {
    std::string text = Dotted(address);
    if (!text.empty()) found.push_back({std::to_string(adapter.IfIndex), text});
  });
  return found;
}

std::string ReadDefaultRouteInterface() {
  // The route a packet to 0.0.0.0 would take is the default route; nothing is sent.
  DWORD index = 0;
  if (GetBestInterface(htonl(INADDR_ANY), &index) != NO_ERROR) return {};
  return std::to_string(index);
}

std::vector<std::string> ResolverAddresses() {
  char hostName[256] = {};
  if (gethostname(hostName, sizeof hostName - 1) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(hostName, nullptr, &hints, &raw) != 0) return {};
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(raw, &freeaddrinfo);
  std::vector<std::string> addresses;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    std::string text = Dotted(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
    if (!text.empty()) addresses.push_back(text);
  }
  return addresses;
}

std::vector<uint32_t> LocalBroadcastAddresses() {
  std::vector<uint32_t> found;
  ForEachUpAddress(ReadAdapters(), [&](const IP_ADAPTER_ADDRESSES&, const IP_ADAPTER_UNICAST_ADDRESS& unicast,
                                       const in_addr& address) {
    // Windows names no broadcast address: it follows from the prefix.
    if (uint32_t broadcast = DirectedBroadcast(address.s_addr, unicast.OnLinkPrefixLength)) found.push_back(broadcast);
  });
  return found;
}

}  // namespace orrin
