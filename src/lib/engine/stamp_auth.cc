#include "stamp_auth.h"

#include <cctype>

#include "hmac_sha256.h"
#include "private_file.h"
#include "stamp_packet.h"

namespace {

constexpr size_t kShortestKey = 16;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool parseStampKeyText(const std::string& text, StampKey* key) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) begin++;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) end--;
  if ((end - begin) % 2 != 0 || (end - begin) / 2 < kShortestKey) return false;
  key->clear();
  for (size_t i = begin; i < end; i += 2) {
    const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    key->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool readStampKeyFile(const std::string& path, StampKey* key, std::string* error) {
  if (!hmacSha256Available(error)) return false;
  std::string text;
  if (!readPrivateFile(path, 4096, &text, error)) return false;
  if (!parseStampKeyText(text, key)) {
    *error = "key file " + path + " holds no key: it must hold " + std::to_string(kShortestKey) +
             " bytes or more as hexadecimal text (openssl rand -hex 32 > " + path + ")";
    return false;
  }
  return true;
}

void signStampPacket(const StampKey& key, uint8_t* packet) {
  uint8_t mac[kSha256Length];
  if (!hmacSha256(key.data(), key.size(), packet, kStampHmacOffset, mac)) return;
  for (size_t i = 0; i < kStampHmacLength; ++i) packet[kStampHmacOffset + i] = mac[i];
}

bool stampPacketSigned(const StampKey& key, const uint8_t* packet, size_t length) {
  if (length < kStampAuthLength) return false;
  uint8_t mac[kSha256Length];
  return hmacSha256(key.data(), key.size(), packet, kStampHmacOffset, mac) &&
         sameInConstantTime(mac, packet + kStampHmacOffset, kStampHmacLength);
}

bool ReplayWindow::accept(uint32_t sequence) {
  if (!started || sequence > highest) {
    const uint32_t ahead = started ? sequence - highest : 64;
    met = ahead >= 64 ? 0 : met << ahead;
    met |= 1;
    highest = sequence;
    started = true;
    return true;
  }
  const uint32_t behind = highest - sequence;
  if (behind >= 64 || (met >> behind & 1) != 0) return false;
  met |= uint64_t{1} << behind;
  return true;
}
