#ifndef TESK_CODEC_NAMES_H
#define TESK_CODEC_NAMES_H

// The codecs a test stream imitates, by the number its packets and the
// library's settings carry: their names in one place.

#include <string>

inline const char* codecName(unsigned codec) { return codec == 1 ? "GSM0610" : "G711"; }

// The number of a codec's name, exactly as written; -1 for a name that is
// neither.
inline int codecNumber(const std::string& name) {
  if (name == "G711") return 0;
  if (name == "GSM0610") return 1;
  return -1;
}

#endif  // TESK_CODEC_NAMES_H
