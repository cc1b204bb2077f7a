#include "net/ipv4_network.h"


#include <charconv>

namespace orrin {

namespace {

std::optional<Ipv4Network> ParseNetwork(std::string_view text) {
  const size_t slash = text.find('/');
  const std::string address(text.substr(0, slash));
  in_addr parsed{};
  if (address.empty() || inet_pton(AF_INET, address.c_str(), &parsed) != 1) return std::nullopt;
  unsigned length = 32;
  if (slash != std::string_view::npos) {
    std::string_view digits = text.substr(slash + 1);
    auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (digits.empty() || status != std::errc() || end != digits.data() + digits.size() || length > 32) {
      return std::nullopt;
    }
  }
  Ipv4Network network;
  network.mask = length == 0 ? 0 : ~uint32_t{0} << (32 - length);
  network.address = ntohl(parsed.s_addr) & network.mask;
  return network;
}

}  // namespace

std::optional<std::vector<Ipv4Network>> ParseNetworkList(std::string_view text, std::string& error) {
  std::vector<Ipv4Network> networks;
  size_t from = 0;
  for (;;) {
    const size_t comma = text.find(',', from);
    std::string_view item = text.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from);
    std::optional<Ipv4Network> network = ParseNetwork(item);
    if (!network) {
      error = "not a network (a.b.c.d/len): \"" + std::string(item) + "\"";
      return std::nullopt;
    }
    networks.push_back(*network);
    if (comma == std::string_view::npos) break;
    from = comma + 1;
  }
  return networks;
}

bool IsAllowedSource(const std::vector<Ipv4Network>& networks, const in_addr& source) {
  if (networks.empty()) return true;
  const uint32_t host = ntohl(source.s_addr);
  for (const Ipv4Network& network : networks) {
    if ((host & network.mask) == network.address) return true;
  }
  return false;
}

}  // namespace orrin
