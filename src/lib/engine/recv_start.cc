#include "recv_start.h"

#include "server.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

namespace {
// The longest IPv4 text the receive start lets through; the socket layer
// takes at most 15 characters of dotted IPv4.
constexpr size_t kMaxReceiverAddressText = 19;
}  // namespace

void appendWindowErrors(const std::string& prefix, unsigned short windowSize,
                        unsigned short sampleInterval, unsigned int timeout,
                        std::vector<std::string>& errors) {
  if (windowSize <= 1000 || sampleInterval == 0) {
    errors.push_back(prefix + "invalid window size or sampling interval size");
  }
  if (timeout == 0) errors.push_back(prefix + "null timeout value");
  if (windowSize <= sampleInterval) {
    errors.push_back(prefix + "sampling window cannot be shorter than sampling interval");
  }
}

std::vector<std::string> receiverParameterErrors(const ReceiverSettings& s) {
  const std::string prefix = "Error in receiver parameter: ";
  std::vector<std::string> errors;
  if (platformChecksAddressText() && !isUsableAddressText(s.localAddress, kMaxReceiverAddressText)) {
    errors.push_back(prefix + "ip_address " + s.localAddress + " is not a valid IP address");
  }
  if (s.localPort == 0) errors.push_back(prefix + "port = " + std::to_string(s.localPort));
  appendWindowErrors(prefix, s.windowSize, s.sampleInterval, s.timeout, errors);
  if (!s.hasCallback) errors.push_back(prefix + "invalid callback");
  return errors;
}

int runReceiver(std::string localAddress, unsigned short localPort, unsigned short windowSize,
                unsigned short sampleInterval, unsigned short dejitterLength, unsigned int timeout,
                unsigned int testId, ReceiverSampleCallback callback, void* context,
                unsigned short threadCount) {
  ReceiverSettings settings{localAddress, localPort, windowSize, sampleInterval, timeout,
                            callback != nullptr && context != nullptr};
  std::vector<std::string> errors = receiverParameterErrors(settings);
  if (!errors.empty()) {
    noteTestError(errors.front());
    for (const std::string& message : errors) TESK_LOG(7, message);
    return PARAMETER_ERROR;
  }
  ServerParams params;
  params.localPort = localPort;
  params.windowSize = windowSize;
  params.localAddress = localAddress.c_str();
  params.sampleInterval = sampleInterval;
  params.dejitterLength = dejitterLength;
  params.timeout = timeout;
  params.testId = testId;
  params.callback = callback;
  params.context = context;
  return startServer(params, threadCount);
}
