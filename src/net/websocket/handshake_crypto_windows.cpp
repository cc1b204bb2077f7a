// SHA-1 and Base64 of the accept value through CryptoAPI.
#include "support/windows_api.h"
#include <wincrypt.h>

#include <algorithm>

#include "net/websocket/handshake.h"

namespace orrin {

namespace {
constexpr DWORD SHA1_SIZE = 20;

class CryptoProvider {
 public:
  CryptoProvider() {
    // A verify-only context needs no key container: nothing is created or read on disk.
    if (!CryptAcquireContextA(&handle_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) handle_ = 0;
  }
  ~CryptoProvider() {
    if (handle_ != 0) CryptReleaseContext(handle_, 0);
  }
  CryptoProvider(const CryptoProvider&) = delete;
  CryptoProvider& operator=(const CryptoProvider&) = delete;
  HCRYPTPROV get() const { return handle_; }

 private:
  HCRYPTPROV handle_ = 0;
};

class Hash {
 public:
  explicit Hash(HCRYPTPROV provider) {
    if (provider == 0 || !CryptCreateHash(provider, CALG_SHA1, 0, 0, &handle_)) handle_ = 0;
  }
  ~Hash() {
    if (handle_ != 0) CryptDestroyHash(handle_);
  }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  HCRYPTHASH get() const { return handle_; }

 private:
  HCRYPTHASH handle_ = 0;
};

}  // namespace

ByteBuffer ComputeSHA1(std::string_view text) {
  ByteBuffer digest(SHA1_SIZE, 0);
  CryptoProvider provider;
  Hash hash(provider.get());
  if (hash.get() == 0) return digest;
  DWORD size = SHA1_SIZE;
  // A failed digest leaves 20 zero bytes: the sender then refuses the accept value, which is
  // the visible outcome of a broken crypto library. Pieces of at most 2 GiB: the length is
  // a DWORD.
  bool ok = true;
  for (size_t at = 0; ok && at < text.size();) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(text.size() - at, 0x7FFFFFFF));
    ok = CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(text.data() + at), piece, 0) != 0;
    at += piece;
  }
  if (!ok || !CryptGetHashParam(hash.get(), HP_HASHVAL, digest.data(), &size, 0) || size != SHA1_SIZE) {
    std::fill(digest.begin(), digest.end(), 0);
  }
  return digest;
}

std::string Base64Encode(const ByteBuffer& bytes) {
  if (bytes.empty() || bytes.size() > 0x3FFFFFFF) return {};
  constexpr DWORD FLAGS = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD length = 0;
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), FLAGS, nullptr, &length) || length == 0) {
    return {};
  }
  std::string text(length, '\0');
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), FLAGS, text.data(), &length)) return {};
  // The second call counts without the terminating NUL.
  text.resize(std::min<size_t>(length, text.size()));
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace orrin
