#include "send_start.h"

#include "packet.h"
#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

namespace {
const char kSenderPrefix[] = "Error in sender parameter: ";
}  // namespace

std::vector<std::string> TeskSendSettings::validate() const {
  const TeskSendSettings& s = *this;
  const std::string prefix = kSenderPrefix;
  std::vector<std::string> errors;
  if (platformChecksAddressText()) {
    if (!isUsableAddressText(s.remoteAddress, kMaxAddressText)) {
      errors.push_back(prefix + "remote_address " + s.remoteAddress + " is not a valid IP address");
    }
    if (!isUsableAddressText(s.localAddress, kMaxAddressText)) {
      errors.push_back(prefix + "local_address " + s.localAddress + " is not a valid IP address");
    }
  }
  // The socket is bound to the local address and sends to the remote one:
  // both must be IPv4, or both IPv6.
  if (isIPv6Text(s.localAddress.c_str()) != isIPv6Text(s.remoteAddress.c_str())) {
    errors.push_back(prefix + "local_address " + s.localAddress + " and remote_address " +
                     s.remoteAddress + " are not of the same address family");
  }
  if (s.remotePort == 0) errors.push_back(prefix + "invalid port settings");
  if (s.testDuration <= 1000 || s.sampleInterval == 0) {
    errors.push_back(prefix + "invalid duration settings");
  }
  if (s.testDuration < s.sampleInterval) errors.push_back(prefix + "invalid duration settings");
  if (s.codec > 1) errors.push_back(prefix + "invalid codec setting");
  if (s.fec > 3) errors.push_back(prefix + "invalid FEC setting");
  if (s.streamInterval == 0 || s.streamInterval > 150) {
    errors.push_back(prefix + "invalid packetization interval settings");
  }
  // The packet must hold the header and fit the generator's buffer.
  if (s.packetSize < kMinPacketSize || s.packetSize > kMaxPacketSize) {
    errors.push_back(prefix + (s.packetSize < kMinPacketSize
                                   ? "invalid packet size (minimum packet size is 43B)"
                                   : "invalid packet size (maximum packet size is 1528B)"));
  }
  return errors;
}

std::vector<std::string> senderParameterErrors(const TeskSendSettings& settings, bool hasSink) {
  std::vector<std::string> errors = settings.validate();
  if (!hasSink) errors.push_back(std::string(kSenderPrefix) + "invalid callback");
  return errors;
}

TestOutcome runSender(const TeskSendSettings& config, SendSink sink) {
  FailureNote failure;
  if (!TESK_PARAMETERS_ACCEPTED(
          senderParameterErrors(config, sink.deliver != nullptr && sink.context != nullptr), failure)) {
    return TestOutcome{PARAMETER_ERROR, failure.text()};
  }
  return startGenerator(config, sink);
}
