#include "support/loopback.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/temp_dir.h"

namespace corvane::testing {

void WriteLoopbackXapConfig(const std::string& home, std::string_view broadcast_address) {
  std::filesystem::create_directories(home + "/Config");
  WriteFile(home + "/Config/zynXap.ini",
            "[Interface]\r\nBroadcastAddress=" + std::string(broadcast_address) + "\r\n");
}

bool EnterPrivateNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "note: no private network namespace; using the shared loopback\n");
    return false;
  }
  // A new namespace's loopback interface starts down.
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  if (ok) {
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    ok = ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  }
  ::close(fd);
  return ok;
}

namespace {
sockaddr_in Address(const std::string& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  return sa;
}
}  // namespace

TestUdpSocket::TestUdpSocket() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

TestUdpSocket::~TestUdpSocket() {
  if (fd_ >= 0) ::close(fd_);
}

int TestUdpSocket::Bind(const std::string& address, uint16_t port, bool reuse) {
  int on = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  if (reuse) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa = Address(address, port);
  return ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
}

uint16_t TestUdpSocket::port() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

bool TestUdpSocket::SendTo(std::string_view datagram, const std::string& address, uint16_t port) {
  sockaddr_in sa = Address(address, port);
  return ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&sa),
                  sizeof sa) == static_cast<ssize_t>(datagram.size());
}

std::optional<TestUdpSocket::Datagram> TestUdpSocket::Receive(std::chrono::milliseconds timeout) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  std::string buf(65536, '\0');
  sockaddr_in from{};
  socklen_t len = sizeof from;
  ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return std::nullopt;
  buf.resize(static_cast<size_t>(n));
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  return Datagram{std::move(buf), text, ntohs(from.sin_port)};
}

uint16_t FreeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = Address("127.0.0.1", 0);
  socklen_t len = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

int ConnectLoopbackTcp(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = Address("127.0.0.1", port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  ::close(fd);
  return -1;
}

}  // namespace corvane::testing
