// The helpers that need POSIX: scratch folders, sockets and child processes.
#include "test_util.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// Reads whatever the two pipes hold until both are closed or the deadline.
bool drainPipes(int outFd, int errFd, std::string& out, std::string& err, double deadline) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    int waitMs = static_cast<int>((deadline - MonotonicSeconds()) * 1000);
    if (waitMs <= 0) return false;
    if (poll(fds, 2, waitMs) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? out : err).append(buffer, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        open--;
      }
    }
  }
  return true;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& workDir, int* outFd,
            int* errFd) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  *outFd = outPipe[0];
  *errFd = errPipe[0];
  return pid;
}

ProcessResult finish(pid_t pid, int outFd, int errFd, double startedAt, double timeoutSeconds) {
  ProcessResult result;
  const bool ended = drainPipes(outFd, errFd, result.out, result.err, startedAt + timeoutSeconds);
  if (!ended) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(outFd);
  close(errFd);
  result.seconds = MonotonicSeconds() - startedAt;
  result.exitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

TempDir::TempDir() {
  char pattern[] = "/tmp/pulvo-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir = pattern;
}

TempDir::~TempDir() {
  for (const auto& name : Files()) std::remove((dir + "/" + name).c_str());
  chmod(dir.c_str(), 0700);
  rmdir(dir.c_str());
}

std::vector<std::string> TempDir::Files() const {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

std::string TempDir::ReadFile(const std::string& name) const {
  std::ifstream in(dir + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

// The loopback address of the family, with `port`.
sockaddr_storage Loopback(bool ipv6, uint16_t port, socklen_t* length) {
  sockaddr_storage storage{};
  if (ipv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    v6->sin6_port = htons(port);
    *length = sizeof *v6;
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4->sin_port = htons(port);
    *length = sizeof *v4;
  }
  return storage;
}

}  // namespace

UdpPeer::UdpPeer(bool useIPv6) : ipv6(useIPv6) {
  socketFd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
  int bufferBytes = 4 << 20;
  setsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
  socklen_t length;
  sockaddr_storage address = Loopback(ipv6, 0, &length);
  if (bind(socketFd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    throw std::runtime_error("bind failed");
  }
  getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length);
  localPort = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                   : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

UdpPeer::~UdpPeer() { close(socketFd); }

std::vector<uint8_t> UdpPeer::Receive(int timeoutMs) {
  pollfd fd{socketFd, POLLIN, 0};
  if (poll(&fd, 1, timeoutMs) <= 0) return {};
  std::vector<uint8_t> datagram(65536);
  ssize_t n = recv(socketFd, datagram.data(), datagram.size(), 0);
  datagram.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return datagram;
}

void UdpPeer::SendTo(uint16_t port, const std::vector<uint8_t>& datagram) {
  socklen_t length;
  const sockaddr_storage to = Loopback(ipv6, port, &length);
  sendto(socketFd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
         length);
}

double MonotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

long PeakResidentKb(pid_t pid) {
  if (pid <= 0) return -1;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

namespace {

// Whether /proc/net/udp or udp6 lists a socket bound to the port.
bool UdpPortBound(uint16_t port) {
  char hexPort[8];
  std::snprintf(hexPort, sizeof hexPort, ":%04X", port);
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local;
      fields >> slot >> local;
      if (local.size() > 5 && local.compare(local.size() - 5, 5, hexPort) == 0) return true;
    }
  }
  return false;
}

}  // namespace

bool WaitForUdpPort(uint16_t port, double timeoutSeconds) {
  const double deadline = MonotonicSeconds() + timeoutSeconds;
  while (!UdpPortBound(port)) {
    if (MonotonicSeconds() > deadline) return false;
    usleep(5000);
  }
  return true;
}

ProcessResult RunPulvo(std::vector<std::string> args, const std::string& workDir,
                       double timeoutSeconds) {
  args.insert(args.begin(), PulvoBinary());
  return RunProcess(args, workDir, timeoutSeconds);
}

std::unique_ptr<BackgroundProcess> StartPulvo(std::vector<std::string> args,
                                              const std::string& workDir) {
  args.insert(args.begin(), PulvoBinary());
  return std::make_unique<BackgroundProcess>(args, workDir);
}

uint16_t FreeUdpPort(bool ipv6) {
  UdpPeer probe(ipv6);
  return probe.port();
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         double timeoutSeconds) {
  BackgroundProcess process(argv, workDir);
  return process.Wait(timeoutSeconds);
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::string& workDir)
    : startedAt(MonotonicSeconds()) {
  pid = spawn(argv, workDir, &outFd, &errFd);
}

BackgroundProcess::~BackgroundProcess() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    Wait(5.0);
  }
}

ProcessResult BackgroundProcess::Wait(double timeoutSeconds) {
  // The limit counts from now; the run time reported counts from the start.
  const double waitFrom = MonotonicSeconds();
  ProcessResult result =
      finish(pid, outFd, errFd, startedAt, waitFrom - startedAt + timeoutSeconds);
  pid = -1;
  return result;
}

void BackgroundProcess::Signal(int signal) {
  if (pid > 0) kill(pid, signal);
}

