#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "support/host_identity_platform.h"

namespace orrin {
namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

std::unique_ptr<ifaddrs, IfAddrsDeleter> InterfacesThatAreUp() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return nullptr;
  return std::unique_ptr<ifaddrs, IfAddrsDeleter>(raw);
}

bool IsUpIPv4(const ifaddrs* entry) {
  return entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET && (entry->ifa_flags & IFF_UP) != 0;
}

std::string HostName() {
  char hostName[256] = {};
  if (gethostname(hostName, sizeof hostName - 1) != 0) return {};
  return hostName;
}

}  // namespace

std::string ReadComputerName() { return HostName(); }

std::vector<InterfaceAddress> ListInterfaceAddresses() {
  std::vector<InterfaceAddress> found;
  auto list = InterfacesThatAreUp();
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (!IsUpIPv4(entry)) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) continue;
    found.push_back({entry->ifa_name != nullptr ? entry->ifa_name : "", text});
  }
  return found;
}

std::string ReadDefaultRouteInterface() {
  std::ifstream file("/proc/net/route");
  if (!file) return {};
  std::stringstream text;
  text << file.rdbuf();
  return DefaultRouteInterface(text.str());
}

std::vector<std::string> ResolverAddresses() {
  const std::string hostName = HostName();
  if (hostName.empty()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(hostName.c_str(), nullptr, &hints, &raw) != 0) return {};
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);

  std::vector<std::string> addresses;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) addresses.emplace_back(text);
  }
  return addresses;
}

std::vector<uint32_t> LocalBroadcastAddresses() {
  std::vector<uint32_t> found;
  auto list = InterfacesThatAreUp();
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (!IsUpIPv4(entry) || (entry->ifa_flags & IFF_BROADCAST) == 0 || entry->ifa_broadaddr == nullptr) continue;
    found.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_broadaddr)->sin_addr.s_addr);
  }
  return found;
}

}  // namespace orrin
