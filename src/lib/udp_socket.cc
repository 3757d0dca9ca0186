// The parts of the socket layer that are the same on every platform.
#include <cstring>

#include "tesk_errors.h"
#include "tesk_log.h"
#include "test_error.h"
#include "udp_socket.h"

bool isUsableIPv4Text(const std::string& text, size_t maxLength) {
  uint32_t ignored;
  return text.size() <= maxLength && text.find('\0') == std::string::npos &&
         parseIPv4Address(text.c_str(), &ignored);
}

int localSocketAddress(unsigned long threadId, const char* address, unsigned short port,
                       sockaddr_in* local) {
  if (address == nullptr) {
    TESK_LOG_FAILURE(7, "Server(" << threadId << "): ", "startUdpSocketComm, IP address param not valid");
    return PARAMETER_ERROR;
  }
  if (port == 0) {
    TESK_LOG_FAILURE(7, "Server(" << threadId << "): ", "startUdpSocketComm, port param not valid");
    return PARAMETER_ERROR;
  }
  std::memset(local, 0, sizeof *local);
  local->sin_family = AF_INET;
  local->sin_port = htons(port);
  // Longer text never is a dotted address, and would not fit the engine's
  // 16-byte copies.
  uint32_t parsed;
  if (std::strlen(address) > kMaxAddressText || !parseIPv4Address(address, &parsed)) {
    TESK_LOG_FAILURE(7, "Server(" << threadId << "): ",
                     "startUdpSocketComm: Erroneous IP address " << address);
    return SOCKET_ERROR;
  }
  local->sin_addr.s_addr = parsed;
  return 0;
}
