#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>

#include "capture_decode.h"
#include "capture_file.h"

namespace {

bool readAll(pcap_t* pcap, CaptureFrameSink& sink, std::string* error) {
  const int linkType = pcap_datalink(pcap);
  if (!isSupportedLinkType(linkType)) {
    const char* name = pcap_datalink_val_to_name(linkType);
    *error = "link-layer type " + std::to_string(linkType) + (name != nullptr ? " (" + std::string(name) + ")" : "") +
             " carries no IP that pulvo can read";
    pcap_close(pcap);
    return false;
  }
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  int status;
  while ((status = pcap_next_ex(pcap, &header, &data)) == 1) {
    // pcapng stamps may be anything at all: keep the seconds within the
    // 32 bits that the engine's times of day carry.
    const int64_t seconds = std::min<int64_t>(std::max<int64_t>(header->ts.tv_sec, 0), UINT32_MAX);
    const int64_t micros = seconds * 1000000 + std::min<int64_t>(std::max<int64_t>(header->ts.tv_usec, 0), 999999);
    sink.frame(micros, linkType, data, header->caplen);
  }
  const bool complete = status == PCAP_ERROR_BREAK;
  if (!complete) *error = pcap_geterr(pcap);
  pcap_close(pcap);
  return complete;
}

}  // namespace

bool readCaptureFile(const std::string& path, CaptureFrameSink& sink, std::string* error) {
  char errorBuffer[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_MICRO,
                                                         errorBuffer);
  if (pcap == nullptr) {
    *error = errorBuffer;
    return false;
  }
  return readAll(pcap, sink, error);
}

bool readCaptureStream(std::FILE* stream, CaptureFrameSink& sink, std::string* error) {
  char errorBuffer[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap =
      pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_MICRO, errorBuffer);
  if (pcap == nullptr) {
    std::fclose(stream);
    *error = errorBuffer;
    return false;
  }
  return readAll(pcap, sink, error);
}
