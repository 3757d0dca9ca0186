#ifndef TESK_CAPTURE_FILE_H
#define TESK_CAPTURE_FILE_H

// Reading pcap and pcapng files, one frame at a time. Builds without
// libpcap get a reader that refuses every file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class CaptureFrameSink {
 public:
  virtual ~CaptureFrameSink() = default;
  // One frame: its time stamp in microseconds since the epoch, the file's
  // link-layer type and the captured bytes (possibly fewer than were on the
  // wire).
  virtual void frame(int64_t timeMicros, int linkType, const uint8_t* data, size_t length) = 0;
};

// Hands every frame of the file to `sink`. False, with the reason in
// `error`, when the file cannot be opened, is not a capture, has a link
// type that carries no IP, or is damaged part-way (the frames before the
// damage have been handed on).
bool readCaptureFile(const std::string& path, CaptureFrameSink& sink, std::string* error);
// The same for an open stream; the stream is closed.
bool readCaptureStream(std::FILE* stream, CaptureFrameSink& sink, std::string* error);

#endif  // TESK_CAPTURE_FILE_H
