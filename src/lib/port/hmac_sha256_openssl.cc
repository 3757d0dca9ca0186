// libcrypto is loaded rather than linked, like libpcap and zlib: only an
// authenticated STAMP test needs it, so the other tests never map it.

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "hmac_sha256.h"

namespace {

struct Libcrypto {
  decltype(&HMAC) hmac = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&CRYPTO_memcmp) memcmp = nullptr;
  std::string loadError;

  Libcrypto() {
    void* library = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      loadError = "cannot load OpenSSL's libcrypto (libcrypto.so.3), which authenticated mode "
                  "needs: install libssl3";
      return;
    }
    hmac = reinterpret_cast<decltype(hmac)>(dlsym(library, "HMAC"));
    sha256 = reinterpret_cast<decltype(sha256)>(dlsym(library, "EVP_sha256"));
    memcmp = reinterpret_cast<decltype(memcmp)>(dlsym(library, "CRYPTO_memcmp"));
    if (hmac == nullptr || sha256 == nullptr || memcmp == nullptr) {
      loadError = "libcrypto lacks HMAC, EVP_sha256 or CRYPTO_memcmp";
    }
  }
};

const Libcrypto& libcrypto() {
  static const Libcrypto library;
  return library;
}

}  // namespace

bool hmacSha256Available(std::string* why) {
  const Libcrypto& lib = libcrypto();
  if (why != nullptr) *why = lib.loadError;
  return lib.loadError.empty();
}

bool hmacSha256(const uint8_t* key, size_t keyLength, const uint8_t* data, size_t length,
                uint8_t out[kSha256Length]) {
  const Libcrypto& lib = libcrypto();
  if (!lib.loadError.empty()) return false;
  unsigned int written = 0;
  return lib.hmac(lib.sha256(), key, static_cast<int>(keyLength), data, length, out, &written) !=
             nullptr &&
         written == kSha256Length;
}

bool sameInConstantTime(const uint8_t* a, const uint8_t* b, size_t length) {
  const Libcrypto& lib = libcrypto();
  if (!lib.loadError.empty()) return false;
  return lib.memcmp(a, b, length) == 0;
}
