#ifndef TESK_BIG_ENDIAN_H
#define TESK_BIG_ENDIAN_H

// Network byte order, written and read a byte at a time: the test and
// control protocols' fields, whatever the host's order and alignment.

#include <cstdint>

inline void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put32(uint8_t* p, uint32_t v) {
  put16(p, static_cast<uint16_t>(v >> 16));
  put16(p + 2, static_cast<uint16_t>(v));
}
inline void put64(uint8_t* p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v >> 32));
  put32(p + 4, static_cast<uint32_t>(v));
}
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t get32(const uint8_t* p) { return uint32_t{get16(p)} << 16 | get16(p + 2); }
inline uint64_t get64(const uint8_t* p) { return uint64_t{get32(p)} << 32 | get32(p + 4); }

#endif  // TESK_BIG_ENDIAN_H
