#include "test_util.h"

#include <algorithm>
#include <atomic>
#include <sstream>

#include <rapidjson/document.h>

FakeClock::FakeClock(int64_t startSec, int64_t startUsec)
    : nowMicros(startSec * 1000000 + startUsec) {
  hooks.now = &FakeClock::HookNow;
  hooks.sleep = &FakeClock::HookSleep;
  hooks.context = this;
  hooks.monotonic = &FakeClock::HookMonotonic;
  setClockHooksForTesting(&hooks);
}

FakeClock::~FakeClock() { setClockHooksForTesting(nullptr); }

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

int64_t FakeClock::HookMonotonic(void* self) {
  auto* clock = static_cast<FakeClock*>(self);
  std::lock_guard<std::mutex> lock(clock->mutex);
  return clock->nowMicros - clock->stepMicros;
}

TimeOfDay FakeClock::HookNow(void* self) { return static_cast<FakeClock*>(self)->Now(); }

void FakeClock::HookSleep(void* self, unsigned int micros) {
  auto* clock = static_cast<FakeClock*>(self);
  {
    std::lock_guard<std::mutex> lock(clock->mutex);
    clock->nowMicros += micros;
    clock->napped += micros;
  }
  if (clock->napHook) clock->napHook(*clock);
}

std::vector<uint8_t> MakePacket(uint32_t seq, uint32_t sendSec, uint32_t sendUsec,
                                size_t payloadLength, uint8_t codecFec, uint8_t intervalCode) {
  std::vector<uint8_t> datagram(std::max(payloadLength, kPacketHeaderSize), 0);
  encodePacketHeader(datagram.data(), seq, sendSec, sendUsec, codecFec, intervalCode);
  datagram.resize(payloadLength);
  return datagram;
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
