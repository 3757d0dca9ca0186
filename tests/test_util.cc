#include "test_util.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <regex>
#include <sstream>

#include <rapidjson/document.h>

FakeClock::FakeClock(int64_t startSec, int64_t startUsec)
    : nowMicros(startSec * 1000000 + startUsec) {}

TimeOfDay FakeClock::Now() {
  std::lock_guard<std::mutex> lock(mutex);
  TimeOfDay t;
  t.sec = nowMicros / 1000000;
  t.usec = nowMicros % 1000000;
  return t;
}

void FakeClock::Advance(int64_t micros) {
  std::lock_guard<std::mutex> lock(mutex);
  nowMicros += micros;
}

void FakeClock::StepTimeOfDay(int64_t micros) {
  std::lock_guard<std::mutex> lock(mutex);
  nowMicros += micros;
  stepMicros += micros;
}

int64_t FakeClock::monotonicMicros() {
  std::lock_guard<std::mutex> lock(mutex);
  return nowMicros - stepMicros;
}

void FakeClock::Sleep(unsigned int micros) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    nowMicros += micros;
    napped += micros;
  }
  if (napHook) napHook(*this);
}

std::vector<uint8_t> MakePacket(uint32_t seq, uint32_t sendSec, uint32_t sendUsec,
                                size_t payloadLength, uint8_t codecFec, uint8_t intervalCode) {
  std::vector<uint8_t> datagram(std::max(payloadLength, kPacketHeaderSize), 0);
  encodePacketHeader(datagram.data(), seq, sendSec, sendUsec, codecFec, intervalCode);
  datagram.resize(payloadLength);
  return datagram;
}

TeskSendSettings DefaultSendConfig() {
  TeskSendSettings c;
  c.localAddress = "127.0.0.1";
  c.remoteAddress = "127.0.0.1";
  c.localPort = 49999;
  c.remotePort = 50000;
  c.testDuration = 12000;
  c.sampleInterval = 5000;
  c.streamInterval = 20;
  c.packetSize = 188;
  c.testId = 1;
  return c;
}

TeskReceiveSettings DefaultReceiveConfig() {
  TeskReceiveSettings c;
  c.localAddress = "127.0.0.1";
  c.localPort = 50000;
  return c;
}

TeskReceiveSettings ShortReceiveConfig(uint16_t port, uint32_t timeoutMs) {
  TeskReceiveSettings c = DefaultReceiveConfig();
  c.localPort = port;
  c.window.windowSize = 1500;
  c.window.sampleInterval = 500;
  c.window.timeout = timeoutMs;
  return c;
}

void AddTestStream(Arrivals& arrivals, int64_t startMs, uint32_t count, uint8_t intervalMs,
                   const std::set<uint32_t>& drops) {
  for (uint32_t seq = 0; seq < count; ++seq) {
    if (drops.count(seq) != 0) continue;
    const int64_t sentUs = (kTestEpoch * 1000 + startMs + int64_t{seq} * intervalMs) * 1000;
    Payload p;
    p.seqNum = seq;
    p.sendSec = static_cast<uint32_t>(sentUs / 1000000);
    p.sendUsec = static_cast<uint32_t>(sentUs % 1000000);
    p.packetInterval = intervalMs;
    arrivals.push_back({(sentUs + 5000) / 1e6, p});
  }
}

void AddTestEndOfStream(Arrivals& arrivals, int64_t atMs, uint32_t seq) {
  Payload p;
  p.seqNum = seq;
  p.packetInterval = 20;
  arrivals.push_back({(kTestEpoch * 1000 + atMs) / 1e3, p});
}

unsigned long CountRun(void* counter) {
  (*static_cast<std::atomic<int>*>(counter))++;
  return 0;
}

std::string PulvoBinary() { return PULVO_BINARY; }

std::string RelayBinary() { return RELAY_BINARY; }

std::vector<JsonSample> ParseJsonSamples(const std::string& out, bool* valid) {
  std::vector<JsonSample> samples;
  rapidjson::Document doc;
  doc.Parse(out.c_str());
  bool ok = !doc.HasParseError() && doc.IsArray();
  if (!ok) {
    if (valid != nullptr) *valid = false;
    return samples;
  }
  for (const auto& s : doc.GetArray()) {
    auto number = [&](const char* key) { return s.HasMember(key) && s[key].IsNumber(); };
    if (s.IsObject() && !s.HasMember("MOS") && number("Packets")) continue;  // a stream's totals
    if (!s.IsObject() || !number("MOS")) {
      ok = false;
      break;
    }
    JsonSample sample;
    sample.mos = s["MOS"].GetDouble();
    if (number("LossRate")) sample.lossRate = s["LossRate"].GetDouble();
    if (number("AverageBurstSize")) sample.burstSize = s["AverageBurstSize"].GetDouble();
    if (number("LostPackets")) sample.lost = s["LostPackets"].GetUint();
    if (number("EstimatedPackets")) sample.estimated = s["EstimatedPackets"].GetUint();
    if (number("AvgJitter")) sample.jitter = s["AvgJitter"].GetUint();
    if (number("EModelR")) sample.emodelR = s["EModelR"].GetDouble();
    if (number("EModelMOS")) sample.emodelMos = s["EModelMOS"].GetDouble();
    samples.push_back(sample);
  }
  if (valid != nullptr) *valid = ok;
  return samples;
}

int JsonSampleCount(const std::string& out) {
  bool valid = false;
  const size_t count = ParseJsonSamples(out, &valid).size();
  return valid ? static_cast<int>(count) : -1;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool MatchesWhole(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

std::ptrdiff_t CountMatches(const std::string& text, const std::string& pattern) {
  const std::regex expression(pattern);
  return std::distance(std::sregex_iterator(text.begin(), text.end(), expression),
                       std::sregex_iterator());
}

const char kLogFileNamePattern[] = R"(TeskLog\.\d{4}-\d{2}-\d{2}\.txt)";
const char kLogStampPattern[] = R"(\d{2}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} - )";

namespace {

void PutBe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Capture files are written in this machine's byte order, as capturing
// tools do; little-endian here.
void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> IpUdp(int family, uint16_t sourcePort, uint16_t destinationPort,
                           const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> udp;
  PutBe(udp, sourcePort, 2);
  PutBe(udp, destinationPort, 2);
  PutBe(udp, payload.size() + 8, 2);
  PutBe(udp, 0, 2);
  udp.insert(udp.end(), payload.begin(), payload.end());
  std::vector<uint8_t> ip;
  if (family == 6) {
    PutBe(ip, 0x60000000, 4);
    PutBe(ip, udp.size(), 2);
    ip.push_back(17);
    ip.push_back(64);
    for (int end = 1; end <= 2; ++end) {
      PutBe(ip, 0x20010db800000000ull, 8);
      PutBe(ip, static_cast<uint64_t>(end), 8);
    }
  } else {
    ip = {0x45, 0};
    PutBe(ip, udp.size() + 20, 2);
    PutBe(ip, 0, 4);  // id, no fragment
    ip.push_back(64);
    ip.push_back(17);
    PutBe(ip, 0, 2);
    PutBe(ip, 0xC0000201, 4);
    PutBe(ip, 0xC0000202, 4);
  }
  ip.insert(ip.end(), udp.begin(), udp.end());
  return ip;
}

}  // namespace

std::vector<uint8_t> RtpDatagram(uint8_t payloadType, uint16_t seq, uint32_t timestamp,
                                 uint32_t ssrc, size_t audioBytes) {
  std::vector<uint8_t> d = {0x80, payloadType};
  PutBe(d, seq, 2);
  PutBe(d, timestamp, 4);
  PutBe(d, ssrc, 4);
  d.resize(d.size() + audioBytes, 0xFF);
  return d;
}

std::vector<uint8_t> CaptureFrame(int linkType, int family, uint16_t sourcePort,
                                  uint16_t destinationPort, const std::vector<uint8_t>& payload) {
  const std::vector<uint8_t> ip = IpUdp(family, sourcePort, destinationPort, payload);
  const uint16_t etherType = family == 6 ? 0x86DD : 0x0800;
  std::vector<uint8_t> frame;
  switch (linkType) {
    case 1:  // Ethernet, with one 802.1Q tag on IPv6 frames
      frame.assign(12, 0x02);
      if (family == 6) {
        PutBe(frame, 0x8100, 2);
        PutBe(frame, 100, 2);
      }
      PutBe(frame, etherType, 2);
      break;
    case 0:  // BSD loopback, host order
      PutLe(frame, family == 6 ? 30 : 2, 4);
      break;
    case 108:  // OpenBSD loopback, network order
      PutBe(frame, family == 6 ? 24 : 2, 4);
      break;
    case 113:  // Linux cooked
      frame.assign(14, 0);
      PutBe(frame, etherType, 2);
      break;
    case 276:  // Linux cooked v2
      PutBe(frame, etherType, 2);
      frame.resize(20, 0);
      break;
    default:  // raw IP
      break;
  }
  frame.insert(frame.end(), ip.begin(), ip.end());
  return frame;
}

std::vector<uint8_t> PcapFile(int linkType, const std::vector<CapturedFrame>& frames,
                              uint32_t snapLength) {
  std::vector<uint8_t> file;
  PutLe(file, 0xA1B2C3D4, 4);
  PutLe(file, 2, 2);
  PutLe(file, 4, 2);
  PutLe(file, 0, 8);
  PutLe(file, snapLength, 4);
  PutLe(file, static_cast<uint32_t>(linkType), 4);
  for (const CapturedFrame& f : frames) {
    const size_t kept = std::min<size_t>(f.bytes.size(), snapLength);
    PutLe(file, static_cast<uint64_t>(f.micros / 1000000), 4);
    PutLe(file, static_cast<uint64_t>(f.micros % 1000000), 4);
    PutLe(file, kept, 4);
    PutLe(file, f.bytes.size(), 4);
    file.insert(file.end(), f.bytes.begin(), f.bytes.begin() + static_cast<long>(kept));
  }
  return file;
}

std::vector<uint8_t> PcapNgFile(int linkType, const std::vector<CapturedFrame>& frames) {
  std::vector<uint8_t> file;
  PutLe(file, 0x0A0D0D0A, 4);  // section header
  PutLe(file, 28, 4);
  PutLe(file, 0x1A2B3C4D, 4);
  PutLe(file, 1, 2);
  PutLe(file, 0, 2);
  PutLe(file, ~uint64_t{0}, 8);
  PutLe(file, 28, 4);
  PutLe(file, 1, 4);  // interface description, microsecond stamps by default
  PutLe(file, 20, 4);
  PutLe(file, static_cast<uint32_t>(linkType), 2);
  PutLe(file, 0, 2);
  PutLe(file, 0, 4);
  PutLe(file, 20, 4);
  for (const CapturedFrame& f : frames) {
    const size_t padded = (f.bytes.size() + 3) / 4 * 4;
    const size_t length = 32 + padded;
    PutLe(file, 6, 4);  // enhanced packet
    PutLe(file, length, 4);
    PutLe(file, 0, 4);
    PutLe(file, static_cast<uint64_t>(f.micros) >> 32, 4);
    PutLe(file, static_cast<uint64_t>(f.micros) & 0xFFFFFFFFu, 4);
    PutLe(file, f.bytes.size(), 4);
    PutLe(file, f.bytes.size(), 4);
    file.insert(file.end(), f.bytes.begin(), f.bytes.end());
    file.resize(file.size() + padded - f.bytes.size(), 0);
    PutLe(file, length, 4);
  }
  return file;
}
