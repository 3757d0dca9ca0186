#include "gzip_stream.h"

bool isGzipFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char magic[2] = {};
  const bool gzip = std::fread(magic, 1, 2, file) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
  std::fclose(file);
  return gzip;
}
