#include "net/websocket/handshake.h"

#include "support/log_escape.h"

namespace orrin {

namespace {
constexpr size_t REQUEST_LOG_CHARS = 200;
constexpr std::string_view KEY_HEADER = "Sec-WebSocket-Key:";
}  // namespace

bool HandshakeRequestComplete(std::string_view received) {
  return received.size() >= MAX_HANDSHAKE_REQUEST || received.find("\r\n\r\n") != std::string_view::npos;
}

std::string_view HandshakeRequestText(std::string_view received) {
  return received.substr(0, received.find('\0'));
}

std::string HandshakeRequestLogLine(std::string_view request) {
  std::string line = "Received handshake request: ";
  // The sender's bytes: cut first, then escaped, so the excerpt is one line however it is made.
  line += EscapeForLog(request.substr(0, REQUEST_LOG_CHARS));
  line += "...";
  return line;
}

std::string KeyLogLine(std::string_view key) {
  return "Extracted WebSocket-Key: " + EscapeForLogCut(key, REQUEST_LOG_CHARS);
}

KeySearch ExtractWebSocketKey(std::string_view request) {
  KeySearch result;
  size_t at = request.find(KEY_HEADER);
  if (at == std::string_view::npos) return result;
  size_t start = at + KEY_HEADER.size();
  while (start < request.size() && (request[start] == ' ' || request[start] == '\t')) ++start;
  size_t end = request.find('\r', start);
  if (end == std::string_view::npos) end = request.find('\n', start);
  if (end == std::string_view::npos) {
    result.status = KeyStatus::InvalidFormat;
    return result;
  }
  result.status = KeyStatus::Found;
  result.key.assign(request.substr(start, end - start));
  return result;
}

std::string BuildHandshakeResponse(const std::string& acceptKey) {
  std::string response;
  response += "HTTP/1.1 101 Switching Protocols\r\n";
  response += "Upgrade: websocket\r\n";
  response += "Connection: Upgrade\r\n";
  response += "Sec-WebSocket-Accept: " + acceptKey + "\r\n";
  response += "\r\n";
  return response;
}

std::string AcceptKeyFor(const std::string& clientKey) {
  return Base64Encode(ComputeSHA1(clientKey + WEBSOCKET_GUID));
}

}  // namespace orrin
