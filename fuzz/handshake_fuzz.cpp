// Runs the handshake request parser over arbitrary requests and checks what it promises
// about the key it extracts.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "net/websocket/handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view received(reinterpret_cast<const char*>(data), std::min(size, orrin::MAX_HANDSHAKE_REQUEST));
  (void)orrin::HandshakeRequestComplete(received);
  std::string_view request = orrin::HandshakeRequestText(received);
  if (request.find('\0') != std::string_view::npos) std::abort();
  std::string line = orrin::HandshakeRequestLogLine(request);
  // The prefix, at most 200 request bytes escaped (a byte becomes at most four: \xNN), "...".
  if (line.size() > 28 + 4 * 200 + 3) std::abort();
  orrin::KeySearch search = orrin::ExtractWebSocketKey(request);
  if (search.status == orrin::KeyStatus::Found) {
    if (search.key.find('\r') != std::string::npos) std::abort();
    if (!search.key.empty() && (search.key[0] == ' ' || search.key[0] == '\t')) std::abort();
    if (request.find(search.key) == std::string_view::npos) std::abort();
    if (orrin::AcceptKeyFor(search.key).size() != 28) std::abort();
    std::string response = orrin::BuildHandshakeResponse(orrin::AcceptKeyFor(search.key));
    if (response.size() != 129) std::abort();
  }
  return 0;
}
