// SHA-1 and Base64 of the accept value through the system's crypto library.
#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "net/websocket/handshake.h"

namespace orrin {

namespace {
constexpr size_t SHA1_SIZE = 20;
}  // namespace

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
