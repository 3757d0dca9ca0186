#ifndef TESK_GZIP_STREAM_H
#define TESK_GZIP_STREAM_H

// gzip-compressed captures (capture.pcap.gz), as tshark reads them: a stream
// that inflates the file as it is read, so that libpcap reads it like any
// other and no uncompressed copy is written.

#include <cstdio>
#include <string>

// Whether the file starts with gzip's magic number.
bool isGzipFile(const std::string& path);

// A stream of the file's inflated bytes, or null with the reason in `error`.
// zlib is loaded on first use, as libpcap is.
std::FILE* openGzipStream(const std::string& path, std::string* error);

#endif  // TESK_GZIP_STREAM_H
