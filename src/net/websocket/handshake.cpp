#include "net/websocket/handshake.h"

#include <openssl/evp.h>

#include <memory>

#include "support/log_escape.h"

namespace orrin {

namespace {
constexpr size_t REQUEST_LOG_CHARS = 200;
constexpr std::string_view KEY_HEADER = "Sec-WebSocket-Key:";
constexpr size_t SHA1_SIZE = 20;
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

ByteBuffer ComputeSHA1(std::string_view text) {
  ByteBuffer digest(SHA1_SIZE, 0);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context) return digest;
  unsigned int size = 0;
  // A failed digest leaves 20 zero bytes: the sender then refuses the accept value, which is
  // the visible outcome of a broken crypto library.
  if (EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), text.data(), text.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1 || size != SHA1_SIZE) {
    std::fill(digest.begin(), digest.end(), 0);
  }
  return digest;
}

std::string Base64Encode(const ByteBuffer& bytes) {
  if (bytes.empty()) return {};
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  if (written < 0) return {};
  text.resize(static_cast<size_t>(written));
  return text;
}

}  // namespace orrin
