// Runs the discovery request matcher over arbitrary datagrams and the response builder
// over arbitrary names and addresses. A probe is answered only when the bytes before the
// first NUL are exactly one of the two probe texts; our own answer, echoed back by a
// confused or hostile peer, must never read as a probe (it would start a reply loop).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/discovery/discovery_protocol.h"

namespace {

bool Matches(std::string_view received) {
  size_t nul = received.find('\0');
  std::string_view text = nul == std::string_view::npos ? received : received.substr(0, nul);
  return text == orrin::DISCOVERY_REQUEST || text == orrin::ANDROID_DISCOVERY_REQUEST;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view received(reinterpret_cast<const char*>(data), size);
  if (orrin::IsDiscoveryRequest(received) != Matches(received)) std::abort();
  // The service reads at most DISCOVERY_MAX_READ bytes of a datagram; whatever it keeps
  // must be judged the same way.
  std::string_view kept = received.substr(0, orrin::DISCOVERY_MAX_READ);
  if (orrin::IsDiscoveryRequest(kept) != Matches(kept)) std::abort();

  // The same bytes as a name and an address: "name\x01ip", port from the length.
  size_t split = received.find('\x01');
  std::string name(received.substr(0, split));
  std::string ip(split == std::string_view::npos ? std::string_view() : received.substr(split + 1));
  int port = static_cast<int>(size % 65536);
  std::string response = orrin::BuildDiscoveryResponse(name, ip, port);
  if (orrin::IsDiscoveryRequest(response)) std::abort();
  const std::string expected = std::string(orrin::DISCOVERY_RESPONSE_PREFIX) + "NAME=" + name + ";IP=" + ip +
                               ";PORT=" + std::to_string(port) + ";TYPE=Windows;VERSION=1.0";
  if (response != expected) std::abort();
  return 0;
}
