#include "net/discovery/answer_address.h"

#include "support/host_identity.h"

namespace orrin {

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
