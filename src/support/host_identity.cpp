#include "support/host_identity.h"

#include <limits>
#include <sstream>

#include "support/host_identity_platform.h"

namespace orrin {
namespace {

constexpr const char* FALLBACK_COMPUTER_NAME = "Windows-PC";
constexpr const char* LOOPBACK_ADDRESS = "127.0.0.1";
constexpr size_t MAX_COMPUTER_NAME = 15;

}  // namespace

std::string ShortComputerName(const std::string& hostName) {
  std::string name = hostName.substr(0, hostName.find('.'));
  if (name.size() > MAX_COMPUTER_NAME) name.resize(MAX_COMPUTER_NAME);
  return name.empty() ? FALLBACK_COMPUTER_NAME : name;
}

std::string GetLocalComputerName() { return ShortComputerName(ReadComputerName()); }

bool IsLoopbackAddress(const std::string& dottedAddress) {
  in_addr parsed{};
  if (inet_pton(AF_INET, dottedAddress.c_str(), &parsed) != 1) return false;
  return (ntohl(parsed.s_addr) >> 24) == 127;
}

std::vector<std::string> OrderInterfaceAddresses(const std::vector<InterfaceAddress>& interfaces,
                                                 const std::string& defaultRouteInterface) {
  std::vector<std::string> ordered;
  for (const InterfaceAddress& entry : interfaces) {
    if (!defaultRouteInterface.empty() && entry.interfaceName == defaultRouteInterface) {
      ordered.push_back(entry.address);
    }
  }
  for (const InterfaceAddress& entry : interfaces) {
    if (defaultRouteInterface.empty() || entry.interfaceName != defaultRouteInterface) {
      ordered.push_back(entry.address);
    }
  }
  return ordered;
}

std::string ChooseLocalIPAddress(const std::vector<std::string>& candidates) {
  // No phone can reach any 127.x.y.z address; Debian and Ubuntu map the host name to
  // 127.0.1.1, so skipping only "127.0.0.1" is not enough.
  for (const std::string& address : candidates) {
    if (!IsLoopbackAddress(address) && address != "0.0.0.0") return address;
  }
  return LOOPBACK_ADDRESS;
}

in_addr_t DirectedBroadcast(in_addr_t address, unsigned prefixLength) {
  if (prefixLength == 0 || prefixLength >= 31) return 0;
  return htonl(ntohl(address) | (0xFFFFFFFFu >> prefixLength));
}

std::string DefaultRouteInterface(const std::string& routeTable) {
  // Lines of "Iface Destination Gateway Flags RefCnt Use Metric Mask ...", hex fields; the
  // default route has destination and mask 0. With several, the lowest metric wins.
  constexpr unsigned long RTF_UP_FLAG = 0x1;
  std::istringstream lines(routeTable);
  std::string line;
  std::getline(lines, line);  // the heading
  std::string best;
  unsigned long bestMetric = std::numeric_limits<unsigned long>::max();
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name, destination, gateway, flags, refCount, use, metric, mask;
    if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) continue;
    try {
      if (std::stoul(destination, nullptr, 16) != 0 || std::stoul(mask, nullptr, 16) != 0) continue;
      if ((std::stoul(flags, nullptr, 16) & RTF_UP_FLAG) == 0) continue;
      unsigned long value = std::stoul(metric, nullptr, 10);
      if (best.empty() || value < bestMetric) {
        best = name;
        bestMetric = value;
      }
    } catch (const std::exception&) {
      continue;  // not a route line
    }
  }
  return best;
}

std::string GetInterfaceIPAddress() {
  return ChooseLocalIPAddress(OrderInterfaceAddresses(ListInterfaceAddresses(), ReadDefaultRouteInterface()));
}

std::string GetLocalIPAddress() {
  std::string chosen = GetInterfaceIPAddress();
  if (!IsLoopbackAddress(chosen)) return chosen;
  // No interface has a usable address: the resolver's list is the last resort.
  return ChooseLocalIPAddress(ResolverAddresses());
}

std::string AnswerAddressFor(const in_addr* reached) {
  // Only a unicast address of ours can be named; "unknown" comes as 0.0.0.0.
  const uint32_t host = reached != nullptr ? ntohl(reached->s_addr) : 0;
  if (host != INADDR_ANY && host < 0xE0000000u) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, reached, text, sizeof text) != nullptr && !IsLoopbackAddress(text)) return text;
  }
  return GetLocalIPAddress();
}

}  // namespace orrin
