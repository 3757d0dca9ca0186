#include "qos_calc.h"

#include <sstream>

#include "tesk_log.h"
#include "test_error.h"

namespace {

constexpr unsigned int kWaitStepMicros = 10000;

std::string prefixOf(const CalculationLabel& label) {
  std::ostringstream prefix;
  prefix << "QoSCalc(" << getOwnThreadId() << ", " << label.serverThreadId << "): ";
  return prefix.str();
}

}  // namespace

ReceiveCalculation::ReceiveCalculation(const WindowSettings& windowSettings, SampleSink out,
                                       CalculationLabel calculationLabel,
                                       std::shared_ptr<Environment> environment)
    : window(windowSettings),
      sink(out),
      env(std::move(environment)),
      label(std::move(calculationLabel)),
      meter(windowSettings, "", &fileLogSink()) {}

void ReceiveCalculation::add(double arrival, const Payload& payload) {
  std::lock_guard<std::mutex> lock(inboxMutex);
  inbox.emplace_back(arrival, payload);
  stored++;
}

void ReceiveCalculation::requestStop() {
  stopping.store(true);
  tickSleep.wake();
}

void ReceiveCalculation::end(int16_t status) {
  endStatus.store(status);
  ended.store(true);
}

void ReceiveCalculation::takeArrivals() {
  {
    std::lock_guard<std::mutex> lock(inboxMutex);
    taken.swap(inbox);
  }
  for (const auto& arrival : taken) meter.add(arrival.first, arrival.second);
  taken.clear();
}

unsigned long qosCalc(void* calculation) {
  static_cast<ReceiveCalculation*>(calculation)->run();
  return 0;
}

void ReceiveCalculation::run() {
  // The meter logs under the thread that runs it, known only now.
  logPrefix = prefixOf(label);
  meter.setLogPrefix(logPrefix);
  TimeOfDay tickTime;
  if (!begin(&tickTime)) return;
  for (bool firstTick = true;; firstTick = false) {
    if (stopping.load()) {
      TESK_LOG(7, logPrefix << "Error in server thread, exiting(2)");
      return end(endStatus.load());
    }
    if (!firstTick) tickTime = env->timeOfDay();
    // A packet held up on the path may still be on its way: the window is
    // taken when the de-jitter length has passed, as a player would take it.
    if (meter.sampling() && window.dejitterLength != 0) {
      env->sleepUnlessWoken(tickSleep, window.dejitterLength * 1000u);
    }
    takeArrivals();
    TeskSample sample;
    switch (meter.tick(tickTime, &sample)) {
      case Meter::Tick::EndOfStream:
        return end(kQosEndOfStream);
      case Meter::Tick::GaveUp:
        TESK_LOG_FAILURE(env->failure(), 7, logPrefix,
                         "No packets received before timeout! Exiting!\n");
        return end(kQosGaveUp);
      case Meter::Tick::Sample:
        sink.deliver(sink.context, sample);
        break;
      case Meter::Tick::WarmUp:
      case Meter::Tick::Dropped:
        break;
    }
    sleepUntilNextTick(static_cast<int32_t>(window.sampleInterval * 1000.0 -
                                            (env->timeOfDay().seconds() - tickTime.seconds()) * 1e6));
  }
}

bool ReceiveCalculation::begin(TimeOfDay* firstTick) {
  if (stopping.load()) {
    TESK_LOG(7, "QoSCalc(" << getOwnThreadId() << ", 0): Error in server thread");
    end(endStatus.load());
    return false;
  }
  TESK_LOG(7, logPrefix << "Wait for packets (" << label.localAddress << ":" << label.localPort
                        << ")");
  if (!waitForFirstPacket()) return false;
  meter.begin(env->timeOfDay());
  // The first tick starts at once; the packets that are waiting arrived
  // before it and lie outside every window.
  *firstTick = env->timeOfDay();
  TESK_LOG(7, logPrefix << "Thread starting up");
  return true;
}

bool ReceiveCalculation::waitForFirstPacket() {
  uint32_t naps = 0;
  for (;;) {
    if (stored.load() != 0) return true;
    if (stopping.load()) {
      TESK_LOG(7, logPrefix << "Error in server thread, terminating");
      end(endStatus.load());
      return false;
    }
    env->sleep(kWaitStepMicros);
    if (++naps > window.timeout / 10) {
      TESK_LOG_FAILURE(env->failure(), 7, logPrefix, "Timeout! Exiting!\n");
      end(kQosGaveUp);
      return false;
    }
  }
}

// A tick needs milliseconds, not the sender's microseconds: an ordinary
// sleep, which a stop request wakes.
void ReceiveCalculation::sleepUntilNextTick(int32_t remainingMicros) {
  if (remainingMicros > 0) {
    env->sleepUnlessWoken(tickSleep, static_cast<uint32_t>(remainingMicros));
  } else {
    TESK_LOG(7, logPrefix << "Not going to sleep negative number of msecs (" << remainingMicros
                          << ")");
  }
}
