#include "support/host_identity.h"

#include <cstring>
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
  // Four decimal parts of 0-255 without leading zeros, as inet_pton reads them; only the
  // first decides.
  unsigned first = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    const size_t start = i;
    unsigned value = 0;
    while (i < dottedAddress.size() && dottedAddress[i] >= '0' && dottedAddress[i] <= '9' && i - start < 3) {
      value = value * 10 + static_cast<unsigned>(dottedAddress[i] - '0');
      ++i;
    }
    const size_t digits = i - start;
    if (digits == 0 || value > 255 || (digits > 1 && dottedAddress[start] == '0')) return false;
    if (parts == 0) first = value;
    ++parts;
    if (parts < 4) {
      if (i >= dottedAddress.size() || dottedAddress[i] != '.') return false;
      ++i;
    }
  }
  return i == dottedAddress.size() && first == 127;
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

uint32_t DirectedBroadcast(uint32_t address, unsigned prefixLength) {
  if (prefixLength == 0 || prefixLength >= 31) return 0;
  // Network byte order in memory: the host bits are the last ones of the four bytes.
  uint8_t bytes[4];
  std::memcpy(bytes, &address, 4);
  const uint32_t host = static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
                        static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
  const uint32_t broadcast = host | (0xFFFFFFFFu >> prefixLength);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(broadcast >> (24 - 8 * i));
  uint32_t result = 0;
  std::memcpy(&result, bytes, 4);
  return result;
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

}  // namespace orrin
