#ifndef TESK_HMAC_SHA256_H
#define TESK_HMAC_SHA256_H

// HMAC-SHA-256 for STAMP's authenticated mode, from OpenSSL's libcrypto,
// which is loaded when a key is first used (only authenticated tests need
// it). Where the build has no OpenSSL, authentication is unavailable and
// says why.

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kSha256Length = 32;

// Whether HMAC can be computed here; `why` says what is missing when not.
bool hmacSha256Available(std::string* why);
// HMAC-SHA-256 of `data` under `key` into `out`; false when unavailable.
bool hmacSha256(const uint8_t* key, size_t keyLength, const uint8_t* data, size_t length,
                uint8_t out[kSha256Length]);
// Equal bytes, compared in a time that does not depend on where they differ.
bool sameInConstantTime(const uint8_t* a, const uint8_t* b, size_t length);

#endif  // TESK_HMAC_SHA256_H
