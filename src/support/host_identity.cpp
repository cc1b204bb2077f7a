#include "support/host_identity.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace orrin {
namespace {

constexpr const char* FALLBACK_COMPUTER_NAME = "Windows-PC";
constexpr const char* LOOPBACK_ADDRESS = "127.0.0.1";
constexpr size_t MAX_COMPUTER_NAME = 15;

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

}  // namespace

std::string ShortComputerName(const std::string& hostName) {
  std::string name = hostName.substr(0, hostName.find('.'));
  if (name.size() > MAX_COMPUTER_NAME) name.resize(MAX_COMPUTER_NAME);
  return name.empty() ? FALLBACK_COMPUTER_NAME : name;
}

std::string GetLocalComputerName() {
  char hostName[256] = {};
  if (gethostname(hostName, sizeof hostName - 1) != 0) return FALLBACK_COMPUTER_NAME;
  return ShortComputerName(hostName);
}

std::string ChooseLocalIPAddress(const std::vector<std::string>& addressesInResolverOrder) {
  for (const std::string& address : addressesInResolverOrder) {
    if (address != LOOPBACK_ADDRESS) return address;
  }
  return LOOPBACK_ADDRESS;
}

std::string GetLocalIPAddress() {
  char hostName[256] = {};
  if (gethostname(hostName, sizeof hostName - 1) != 0) return LOOPBACK_ADDRESS;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(hostName, nullptr, &hints, &raw) != 0) return LOOPBACK_ADDRESS;
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);

  std::vector<std::string> addresses;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) addresses.emplace_back(text);
  }
  return ChooseLocalIPAddress(addresses);
}

}  // namespace orrin
