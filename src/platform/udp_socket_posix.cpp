#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/event_loop.h"
#include "platform/udp_socket.h"

namespace corvane {

namespace {

// At most this many datagrams are read per readiness event, so that a flood
// on one socket cannot keep the loop from its timers and other sockets.
constexpr int kReadsPerEvent = 64;
// The largest UDP payload over IPv4 is 65,507 bytes.
constexpr size_t kMaxDatagram = 65536;

std::string Dotted(const in_addr& a) {
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

// A dotted address, or a host name resolved to its first IPv4 address.
int Resolve(std::string_view address, in_addr* out) {
  std::string text(address);
  if (text.empty()) text = "0.0.0.0";
  if (::inet_pton(AF_INET, text.c_str(), out) == 1) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(text.c_str(), nullptr, &hints, &res) != 0 || !res) return EHOSTUNREACH;
  *out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
  ::freeaddrinfo(res);
  return 0;
}

class PosixUdpSocket final : public UdpSocket {
 public:
  explicit PosixUdpSocket(EventLoop& loop) : loop_(loop) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) open_error_ = errno;
  }
  ~PosixUdpSocket() override { Close(); }

  int SetReuseAddress(bool on) override { return SetFlag(SO_REUSEADDR, on); }
  int SetBroadcast(bool on) override { return SetFlag(SO_BROADCAST, on); }

  int Bind(std::string_view address, uint16_t port) override {
    if (fd_ < 0) return open_error_ ? open_error_ : EBADF;
    if (bound_) return EINVAL;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (int err = Resolve(address, &sa.sin_addr)) return err == EHOSTUNREACH ? EADDRNOTAVAIL : err;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return errno;
    bound_ = true;
    watch_ = loop_.Watch(fd_, EventLoop::kReadable, [this](unsigned) { ReadAvailable(); });
    return 0;
  }

  int SendTo(std::string_view datagram, std::string_view address, uint16_t port) override {
    if (fd_ < 0) return open_error_ ? open_error_ : EBADF;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (address != last_name_ || !last_resolved_) {
      in_addr a{};
      if (int err = Resolve(address, &a)) return err;
      last_name_ = std::string(address);
      last_addr_ = a;
      last_resolved_ = true;
    }
    sa.sin_addr = last_addr_;
    ssize_t n = ::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                         reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (n < 0) return errno;
    return static_cast<size_t>(n) == datagram.size() ? 0 : EMSGSIZE;
  }

  void SetReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }

  void Close() override {
    if (watch_) loop_.Unwatch(watch_);
    watch_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    bound_ = false;
    *alive_ = false;
    alive_ = std::make_shared<bool>(true);
  }

  bool IsBound() const override { return bound_; }

  UdpEndpoint LocalEndpoint() const override {
    UdpEndpoint ep;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (fd_ >= 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
      ep.address = Dotted(sa.sin_addr);
      ep.port = ntohs(sa.sin_port);
    }
    return ep;
  }

 private:
  int SetFlag(int option, bool on) {
    if (fd_ < 0) return open_error_ ? open_error_ : EBADF;
    int v = on ? 1 : 0;
    return ::setsockopt(fd_, SOL_SOCKET, option, &v, sizeof v) == 0 ? 0 : errno;
  }

  void ReadAvailable() {
    if (buffer_.size() < kMaxDatagram) buffer_.resize(kMaxDatagram);
    auto alive = alive_;  // the handler may close or destroy this socket
    for (int i = 0; i < kReadsPerEvent && *alive && fd_ >= 0; ++i) {
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) return;  // EAGAIN, or an error reported for an earlier send
      UdpEndpoint ep{Dotted(from.sin_addr), ntohs(from.sin_port)};
      if (handler_) {
        auto handler = handler_;
        handler(std::string_view(buffer_.data(), static_cast<size_t>(n)), ep);
      }
    }
  }

  EventLoop& loop_;
  int fd_ = -1;
  int open_error_ = 0;
  bool bound_ = false;
  EventLoop::WatchId watch_ = 0;
  ReceiveHandler handler_;
  std::vector<char> buffer_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::string last_name_;
  in_addr last_addr_{};
  bool last_resolved_ = false;
};

}  // namespace

std::unique_ptr<UdpSocket> PosixUdpNetwork::OpenUdp() {
  return std::make_unique<PosixUdpSocket>(loop_);
}

std::vector<std::string> PosixUdpNetwork::HostAddresses() {
  std::vector<std::string> out;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &res) != 0) return out;
  for (addrinfo* p = res; p; p = p->ai_next) {
    std::string a = Dotted(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr);
    bool seen = false;
    for (const auto& s : out) seen = seen || s == a;
    if (!seen) out.push_back(a);
  }
  ::freeaddrinfo(res);
  return out;
}

std::vector<std::string> InterfaceAddresses() {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* p = list; p; p = p->ifa_next) {
    if (p->ifa_addr && p->ifa_addr->sa_family == AF_INET) {
      out.push_back(Dotted(reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr));
    }
  }
  ::freeifaddrs(list);
  return out;
}

bool IsLoopbackAddress(std::string_view dotted) {
  in_addr a{};
  std::string text(dotted);
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  return (ntohl(a.s_addr) >> 24) == 127;
}

std::string ErrorText(int err) {
  return std::strerror(err);
}

}  // namespace corvane
