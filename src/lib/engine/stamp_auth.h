#ifndef TESK_STAMP_AUTH_H
#define TESK_STAMP_AUTH_H

// STAMP's authenticated mode (RFC 8762 section 4.4): HMAC-SHA-256 over the
// first 96 bytes of a packet, truncated to the 16 bytes after them, under a
// key shared by both ends; and the replay check that keeps a packet seen
// once from being counted twice.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using StampKey = std::vector<uint8_t>;

// The key from a file that only its owner may read: hexadecimal text (as
// `openssl rand -hex 32` writes it), 16 bytes at least. False with the
// reason when the file is unreadable, readable by others or no such key, or
// when this build cannot authenticate.
bool readStampKeyFile(const std::string& path, StampKey* key, std::string* error);
// The hexadecimal text of a key, for the file's contents.
bool parseStampKeyText(const std::string& text, StampKey* key);

// Writes the HMAC of an authenticated packet (at least 112 bytes).
void signStampPacket(const StampKey& key, uint8_t* packet);
// Whether an authenticated packet of `length` bytes carries its HMAC.
bool stampPacketSigned(const StampKey& key, const uint8_t* packet, size_t length);

// Sequence numbers met so far, as IPsec keeps them: the highest, and which
// of the 64 below it have been met. A number met before, or too old to
// tell, is a replay.
class ReplayWindow {
 public:
  // True, and the number is marked, when it has not been met.
  bool accept(uint32_t sequence);

 private:
  bool started = false;
  uint32_t highest = 0;
  uint64_t met = 0;  // bit k: highest - k was met
};

#endif  // TESK_STAMP_AUTH_H
